// Upgrade scripts as they may come: any bytes as the scrambled file. The line reader, the
// header readers, the database list and the item pass must hold to fuzz::CheckScript.
#include "script_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile scratch;
    fuzz::CheckScript(scratch.Write(data, size), size);
    return 0;
}
