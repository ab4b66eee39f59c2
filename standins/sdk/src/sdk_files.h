// Line files of the stand-in SDK (journal, SDK log), named by environment variables.
#ifndef QG_SDK_FILES_H
#define QG_SDK_FILES_H

#include <string>

namespace sdkstub {

// Appends line and "\n" to the file named by the variable; nothing when unset.
void AppendLine(const char* envName, const std::string& line);

}  // namespace sdkstub

#endif
