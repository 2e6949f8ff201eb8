// The kernel file services the library calls, gathered in one table.
// The shipped DLL binds it to kernel32; the tests bind it to an in-memory volume set.
#pragma once
#include <windows.h>

namespace kestrune {

struct KernelApi {
    // Files and search.
    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    DWORD(WINAPI* GetFileAttributesW)(LPCWSTR);
    DWORD(WINAPI* GetFullPathNameW)(LPCWSTR, DWORD, LPWSTR, LPWSTR*);
    HANDLE(WINAPI* FindFirstFileW)(LPCWSTR, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* FindNextFileW)(HANDLE, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* FindClose)(HANDLE);
    BOOL(WINAPI* GetFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
    // A folder's entries with their file IDs, read through one open folder handle.
    BOOL(WINAPI* GetFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    BOOL(WINAPI* CreateHardLinkW)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI* DeleteFileW)(LPCWSTR);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD(WINAPI* GetFileSize)(HANDLE, LPDWORD);
    BOOL(WINAPI* GetFileSizeEx)(HANDLE, PLARGE_INTEGER);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    DWORD(WINAPI* GetCurrentDirectoryW)(DWORD, LPWSTR);
    BOOL(WINAPI* SetCurrentDirectoryW)(LPCWSTR);
    // Volumes.
    BOOL(WINAPI* GetDiskFreeSpaceExW)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    BOOL(WINAPI* SetThreadErrorMode)(DWORD, LPDWORD);
    BOOL(WINAPI* GetVolumeInformationW)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    DWORD(WINAPI* GetLogicalDriveStringsW)(DWORD, LPWSTR);
    // Reparse requests and the backup walk.
    BOOL(WINAPI* DeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* BackupRead)(HANDLE, LPBYTE, DWORD, LPDWORD, BOOL, BOOL, LPVOID*);
    BOOL(WINAPI* BackupSeek)(HANDLE, DWORD, DWORD, LPDWORD, LPDWORD, LPVOID*);
    // Mount manager.
    BOOL(WINAPI* GetVolumeNameForVolumeMountPointW)(LPCWSTR, LPWSTR, DWORD);
    BOOL(WINAPI* SetVolumeMountPointW)(LPCWSTR, LPCWSTR);
    // Heap blocks of the file operations.
    HGLOBAL(WINAPI* GlobalAlloc)(UINT, SIZE_T);
    HGLOBAL(WINAPI* GlobalFree)(HGLOBAL);
    // Events.
    HANDLE(WINAPI* CreateEventW)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
    BOOL(WINAPI* SetEvent)(HANDLE);
    BOOL(WINAPI* ResetEvent)(HANDLE);
    DWORD(WINAPI* WaitForSingleObject)(HANDLE, DWORD);
    // The names of one file, closed with FindClose. Looked up at run time: null where the
    // system lacks them, so that the library still loads there.
    HANDLE(WINAPI* FindFirstFileNameW)(LPCWSTR, DWORD, LPDWORD, PWSTR);
    BOOL(WINAPI* FindNextFileNameW)(HANDLE, LPDWORD, PWSTR);
    // The named streams of one item, closed with FindClose; looked up at run time like the names.
    HANDLE(WINAPI* FindFirstStreamW)(LPCWSTR, STREAM_INFO_LEVELS, LPVOID, DWORD);
    BOOL(WINAPI* FindNextStreamW)(HANDLE, LPVOID);
    // Replacing a file, removing a folder or a link to one, drive kinds, the mount manager's removal.
    BOOL(WINAPI* MoveFileExW)(LPCWSTR, LPCWSTR, DWORD);
    BOOL(WINAPI* RemoveDirectoryW)(LPCWSTR);
    UINT(WINAPI* GetDriveTypeW)(LPCWSTR);
    BOOL(WINAPI* DeleteVolumeMountPointW)(LPCWSTR);
    // Where an open handle really lies: its volume's GUID path or a DOS path, and the path on.
    DWORD(WINAPI* GetFinalPathNameByHandleW)(HANDLE, LPWSTR, DWORD, DWORD);
    // A file's facts by its name, without an open (Windows 11 24H2); null where the system lacks it.
    BOOL(WINAPI* GetFileInformationByName)(LPCWSTR, int, LPVOID, ULONG);
    // New folders and symbolic links (the links made by a drop).
    BOOL(WINAPI* CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    BOOLEAN(WINAPI* CreateSymbolicLinkW)(LPCWSTR, LPCWSTR, DWORD);
    // An open file's or stream's new name, end of data and delete disposition; its place in the data.
    BOOL(WINAPI* SetFileInformationByHandle)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    BOOL(WINAPI* SetFilePointerEx)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);
};

// The by-name query's class and answer, as the system's headers declare them.
constexpr int kFileStatBasicByNameInfo = 3;
struct FileStatBasicInformation {
    LARGE_INTEGER fileId, creationTime, lastAccessTime, lastWriteTime, changeTime, allocationSize, endOfFile;
    ULONG fileAttributes, reparseTag, numberOfLinks, deviceType, deviceCharacteristics, reserved;
    LARGE_INTEGER volumeSerialNumber;
    BYTE fileId128[16];
};
static_assert(sizeof(FileStatBasicInformation) == 104, "FILE_STAT_BASIC_INFORMATION layout");

// The table in force. Never null.
const KernelApi& Kernel();

// The table bound to the real system.
const KernelApi& SystemKernel();

} // namespace kestrune
