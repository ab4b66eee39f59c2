// Linked into the programs of the ThreadSanitizer tree only. libIce is not
// instrumented, so the sanitizer cannot see its atomic reference counts and
// takes every hand-over of an Ice object between threads for a race. This
// copy of IceUtil::Shared's counting, built with the sanitizer, takes the
// place of libIce's own (the program's definition wins over the library's),
// so the counts are seen for what they are and no report has to be
// suppressed.
#include <IceUtil/Shared.h>

void IceUtil::Shared::__incRef()
{
    ++_ref;
}

void IceUtil::Shared::__decRef()
{
    if (--_ref == 0 && !(_flags & NoDelete))
        delete this;
}
