#include "skype/SkypeApi.h"

#include <cstring>

#include "app/Logger.h"

COPYDATASTRUCT MakeSkypeCopyData(const std::string& line) {
    COPYDATASTRUCT block;
    // A NUL inside would cut the line short at Skype's end; bytes that are not UTF-8 break the
    // protocol. Neither is sent.
    if (line.find('\0') != std::string::npos) {
        VLOG(WARNING, "MakeSkypeCopyData refused a line with a NUL inside (%zu bytes)",
             line.size());
        return block;
    }
    if (!IsValidUtf8(line)) {
        VLOG(WARNING, "MakeSkypeCopyData refused a line that is not UTF-8 (%zu bytes)",
             line.size());
        return block;
    }
    if (line.size() >= UINT32_MAX) {
        VLOG(WARNING, "MakeSkypeCopyData refused a line of %zu bytes", line.size());
        return block;
    }
    block.dwData = 0;
    block.cbData = static_cast<DWORD>(line.size() + 1);
    block.lpData = line.c_str();
    return block;
}

bool ReadSkypeCopyData(const COPYDATASTRUCT& block, std::string& line) {
    line.clear();
    const char* pszWhy = nullptr;
    const char* p = static_cast<const char*>(block.lpData);
    if (block.cbData == 0) {
        pszWhy = "no bytes";
    } else if (!p) {
        pszWhy = "no data";
    } else if (p[block.cbData - 1] != '\0') {
        pszWhy = "not terminated";
    } else if (std::memchr(p, '\0', block.cbData - 1)) {
        pszWhy = "NUL inside the line";
    } else if (!IsValidUtf8(std::string_view(p, block.cbData - 1))) {
        pszWhy = "not UTF-8";
    }
    if (pszWhy) {
        VLOG(WARNING, "ReadSkypeCopyData refused a block of %u bytes: %s",
             static_cast<unsigned>(block.cbData), pszWhy);
        return false;
    }
    line.assign(p, block.cbData - 1);
    return true;
}
