// Text helpers of the stand-in SDK: the shared ones, named here.
#ifndef QG_SDK_TEXT_H
#define QG_SDK_TEXT_H

#include "standin_text.h"

namespace sdkstub {

using standin::AppendLine;
using standin::BytesForm;
using standin::DataForm;
using standin::ParseData;
using standin::ParseHex;
using standin::ParseU32;
using standin::QuoteText;
using standin::SplitTokens;
using standin::ToHex;

}  // namespace sdkstub

#endif
