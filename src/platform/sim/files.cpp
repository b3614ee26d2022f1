// The simulated files, searches and C runtime streams. See sim.h.
#include "platform/sim/machine.h"

#include <cstdio>
#include <cstring>

using namespace Simulated;

namespace {

std::string FileName(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileIsOpen(const std::string& folded) {
    for (const auto& entry : M().streams) {
        if (entry.second->path == folded) return true;
    }
    return false;
}

}  // namespace

namespace Win {

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
    Log("GetWindowsDirectoryA");
    if (!buffer && size) Unmodelled("GetWindowsDirectoryA without a buffer");
    if (DWORD code = Injected(Sim::Op::GetWindowsDirectory)) {
        M().lastError = code;
        return 0;
    }
    const std::string& directory = M().windowsDirectory;
    UINT length = static_cast<UINT>(directory.size());
    if (size <= length) return length + 1;  // the size needed, terminating NUL included
    std::memcpy(buffer, directory.c_str(), length + 1);
    return Succeeded(length);
}

HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
    Log("FindFirstFileA", fileName ? fileName : "");
    if (!fileName || !findData) Unmodelled("FindFirstFileA without a name or record");
    if (std::strpbrk(fileName, "*?")) Unmodelled("FindFirstFileA with wildcards: %s", fileName);
    if (DWORD code = Injected(Sim::Op::FindFirstFile, fileName)) {
        M().lastError = code;
        return INVALID_HANDLE_VALUE;
    }
    auto it = M().files.find(Fold(fileName));
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::memset(findData, 0, sizeof *findData);
    findData->dwFileAttributes = it->second.attributes;
    findData->nFileSizeLow = static_cast<DWORD>(it->second.bytes.size());
    std::string name = FileName(it->second.path);
    std::snprintf(findData->cFileName, sizeof findData->cFileName, "%s", name.c_str());
    std::uintptr_t handle = NewHandle();
    M().searches[handle] = it->first;
    return Succeeded(reinterpret_cast<HANDLE>(handle));
}

BOOL FindClose(HANDLE search) {
    Log("FindClose");
    if (!M().searches.erase(reinterpret_cast<std::uintptr_t>(search))) {
        Unmodelled("FindClose on a search handle that is not open");
    }
    return Succeeded(TRUE);
}

BOOL SetFileAttributesA(const char* fileName, DWORD attributes) {
    Log("SetFileAttributesA", fileName ? fileName : "");
    if (!fileName) Unmodelled("SetFileAttributesA without a name");
    if (DWORD code = Injected(Sim::Op::SetFileAttributes, fileName)) {
        M().lastError = code;
        return FALSE;
    }
    auto it = M().files.find(Fold(fileName));
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    it->second.attributes = attributes ? attributes : 0x80;  // FILE_ATTRIBUTE_NORMAL
    return Succeeded(TRUE);
}

BOOL DeleteFileA(const char* fileName) {
    Log("DeleteFileA", fileName ? fileName : "");
    if (!fileName) Unmodelled("DeleteFileA without a name");
    if (DWORD code = Injected(Sim::Op::DeleteFile, fileName)) {
        M().lastError = code;
        return FALSE;
    }
    std::string folded = Fold(fileName);
    auto it = M().files.find(folded);
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (it->second.attributes & FILE_ATTRIBUTE_READONLY) {
        M().lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (FileIsOpen(folded)) {
        M().lastError = 32;  // ERROR_SHARING_VIOLATION: the C runtime does not share delete access
        return FALSE;
    }
    M().files.erase(it);
    return Succeeded(TRUE);
}

FILE* fopen(const char* path, const char* mode) {
    Log("fopen", path ? path : "");
    if (!path || !mode || std::strcmp(mode, "rb") != 0) Unmodelled("fopen other than \"rb\"");
    if (DWORD code = Injected(Sim::Op::FOpen, path)) {
        M().lastError = code;
        return nullptr;
    }
    std::string folded = Fold(path);
    auto it = M().files.find(folded);
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::unique_ptr<Stream> stream(new Stream());
    stream->path = folded;
    stream->bytes = it->second.bytes;
    std::uintptr_t handle = NewHandle();
    M().streams[handle] = std::move(stream);
    return Succeeded(reinterpret_cast<FILE*>(handle));
}

static Stream& StreamOf(FILE* file, const char* call) {
    auto it = M().streams.find(reinterpret_cast<std::uintptr_t>(file));
    if (it == M().streams.end()) Unmodelled("%s on a stream that is not open", call);
    return *it->second;
}

char* fgets(char* buffer, int size, FILE* file) {
    Stream& stream = StreamOf(file, "fgets");
    if (!buffer || size < 1) Unmodelled("fgets without room");
    if (DWORD code = Injected(Sim::Op::FGets, stream.path)) {
        M().lastError = code;
        stream.error = true;
        return nullptr;
    }
    // As the C runtime: end of file is set only by a read that finds no more bytes, so a
    // full-length piece that ends exactly at the end of the data leaves it clear.
    int count = 0;
    while (count < size - 1) {
        if (stream.position >= stream.bytes.size()) {
            stream.eof = true;
            break;
        }
        char c = stream.bytes[stream.position++];
        buffer[count++] = c;
        if (c == '\n') break;
    }
    if (count == 0) return nullptr;
    buffer[count] = '\0';
    return Succeeded(buffer);
}

int feof(FILE* file) { return StreamOf(file, "feof").eof ? 1 : 0; }

int fclose(FILE* file) {
    StreamOf(file, "fclose");
    Log("fclose", M().streams[reinterpret_cast<std::uintptr_t>(file)]->path);
    M().streams.erase(reinterpret_cast<std::uintptr_t>(file));
    return Succeeded(0);
}

}  // namespace Win

namespace Sim {

void SetWindowsDirectory(const std::string& path) { M().windowsDirectory = path; }

void AddFile(const std::string& path, const std::string& content, DWORD attributes) {
    M().files[Fold(path)] = File{path, content, attributes};
}

bool FileExists(const std::string& path) { return M().files.count(Fold(path)) != 0; }

DWORD FileAttributes(const std::string& path) {
    auto it = M().files.find(Fold(path));
    return it == M().files.end() ? 0 : it->second.attributes;
}

std::vector<std::string> Files() {
    std::vector<std::string> paths;
    for (const auto& entry : M().files) paths.push_back(entry.second.path);
    return paths;
}

int OpenFileCount() { return static_cast<int>(M().streams.size()); }
int OpenSearchCount() { return static_cast<int>(M().searches.size()); }

}  // namespace Sim
