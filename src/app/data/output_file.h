#pragma once
// A file written whole or not at all: the bytes go to a temporary file beside the target, every
// write and the close are checked, and only a complete file takes the target's name. Used by
// the exports, whose files must never be left truncated on a full disk. One thread.
#include <string>
#include <string_view>

namespace tarvex::app {

class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();  // removes the temporary file unless commit() succeeded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file; false (see error()) when it cannot be made.
    bool open();
    // Appends bytes; false once any write failed.
    bool write(std::string_view bytes);
    // Closes (after a sync to the disk when `sync`) and renames to the target; false (the
    // temporary file removed) when any of that failed.
    bool commit(bool sync = false);
    // Why the last step failed, as the system says it ("No space left on device").
    const std::string& error() const { return m_error; }

private:
    void fail(int code);
    std::string m_path, m_temp, m_error;
    int m_fd = -1;
};

}  // namespace tarvex::app
