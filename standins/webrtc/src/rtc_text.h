// Text helpers of the stand-in media library: the shared ones named here,
// its own journal forms and the journal file itself.
#ifndef QG_RTC_TEXT_H
#define QG_RTC_TEXT_H

#include <cstdint>
#include <string>

#include "media_clip.h"
#include "standin_text.h"

namespace rtcstub {

using standin::Clip;
using standin::ClipFrame;
using standin::Crc32;
using standin::CrcForm;
using standin::CutAnnexB;
using standin::CutIvf;
using standin::CutOggOpus;
using standin::Option;
using standin::ParseHex;
using standin::ParseOptions;
using standin::ParseU32;
using standin::QuoteText;
using standin::ReadWholeFile;
using standin::SplitTokens;

// Journal forms, see README.md.
std::string PtrForm(const void* p);
std::string I32(uint32_t v);

// The journal: one line per call, callback, frame and control line, flushed
// at once. Named by QG_RTC_JOURNAL, read at every line; off when unset.
bool JournalOn();
void Journal(const std::string& line);

}  // namespace rtcstub

#endif
