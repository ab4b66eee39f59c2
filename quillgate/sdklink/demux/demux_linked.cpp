// Where the unit is linked into the program's own code (the tests, the fuzz
// target and the benchmarks drive it directly), it uses the program's
// services as they are.
#include "quillgate/sdklink/demux/demuxer_unit.h"
#include "quillgate/sdklink/demux/memory_demuxer.h"

const QgDemuxHost& DemuxHost()
{
    return ProgramDemuxHost();
}
