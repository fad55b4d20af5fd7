#pragma once
// Files and folders the program relies on: its own folder, the user's XDG folders, and a file
// write that never leaves a half-written file behind.
#include <cstddef>
#include <string>

#include <cstdio>
#include <memory>

// A FILE* that closes itself: whoever holds it owns the open file.
struct CFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using CFilePtr = std::unique_ptr<FILE, CFileCloser>;

// The running executable's full path (/proc/self/exe); empty when it cannot be read.
std::string GetProgramPath();
// The folder of the running executable, ending with "/". Everything that lies "beside the
// program" (settings, logs, sounds, language packs) is found from here.
std::string GetProgramFolder();
// Tests point the program folder at a temporary folder; an empty string restores the real one.
// A missing trailing "/" is added.
void SetProgramFolder(const std::string& folder);

// $HOME, else the password database's home folder, else "/". No trailing "/".
std::string GetHomeFolder();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config. No trailing "/".
std::string GetXdgConfigHome();
// XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs ("$HOME/..." or an absolute path),
// else ~/Documents. No trailing "/". Not created here.
std::string GetXdgDocumentsFolder();

// Creates the folder and its missing parents (mode 0777 before umask). True when it exists as
// a folder afterwards.
bool MakeFolders(const std::string& folder);

enum EReadFile {
    READ_FILE_OK,
    READ_FILE_MISSING,    // no such file
    READ_FILE_TOO_LARGE,  // larger than the limit; nothing read
    READ_FILE_ERROR,      // exists but could not be read (a folder, no permission, I/O error)
};
// Reads a whole regular file of at most maxBytes into data; anything else (a folder, a pipe, a
// device) is READ_FILE_ERROR, at once. pErrno receives errno on failure.
EReadFile ReadWholeFile(const std::string& path, size_t maxBytes, std::string& data,
                        int* pErrno = nullptr);

// Replaces path with data atomically: the bytes go to "<path>.tmp" beside it, are flushed to the
// disk, and only then renamed over path. A crash, a kill or a full disk leaves either the old
// file or the new one, whole. The old file's permission bits are kept. On failure the temporary
// file is removed, path is untouched, false is returned and pErrno receives errno.
bool WriteFileAtomic(const std::string& path, const std::string& data, int* pErrno = nullptr);
