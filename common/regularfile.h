#pragma once
// Reading a file the user named without the traps of special files: opening a FIFO waits for a writer
// and a device may never end, so only a regular file is read, and it is opened without blocking.
#include <cstddef>
#include <string>

namespace vx {

struct RegularFileRead {
    enum class Result { Ok, NotRegular, TooLarge, Failed };
    Result result = Result::Failed;
    int error = 0;    // errno for Failed
    std::string data; // the whole file for Ok
};

// The whole file if it is a regular one of at most `limit` bytes.
RegularFileRead readRegularFile(const std::string& path, std::size_t limit);

} // namespace vx
