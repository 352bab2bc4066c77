// Saving a file so that a failed or interrupted save never costs the file
// that was there: the bytes go to a temporary file in the target's folder,
// which is flushed, synced and renamed over the target, and the folder is
// synced after. Until the rename the old file stays exactly as it was; a
// save that fails on the way removes its temporary file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class SafeSave {
public:
    // Creates the temporary file beside the target (a UTF-8 path; a link is
    // followed to the file it names). A target that exists and is not a
    // regular file (a folder, a device, a pipe) is refused. IsOpen tells
    // whether the save can go on; Error gives the errno of the failure.
    explicit SafeSave(const std::string& target);
    // A save that was not committed removes its temporary file.
    ~SafeSave();
    SafeSave(const SafeSave&) = delete;
    SafeSave& operator=(const SafeSave&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Failed() const { return m_error != 0; }
    int Error() const { return m_error; }

    // Appends bytes (buffered); false once anything failed.
    bool Write(const void* data, size_t size);
    // Writes the rest, syncs the file, renames it over the target and syncs
    // the folder. False on any failure: the temporary file is gone and the
    // target untouched. The Win32 last error is set either way.
    bool Commit();
    // Gives the save up: the temporary file is removed.
    void Abandon();

    // The whole save in one call.
    static bool WriteWhole(const std::string& target, const void* data, size_t size);

private:
    bool Drain();
    void Fail(int err);

    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
    int m_error = 0;
    std::vector<char> m_buffer;
};
