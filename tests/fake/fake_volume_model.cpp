#include "tests/fake/fake_volume_model.h"

#include "ntfs/reparse/reparse_record.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <stdexcept>

namespace kestrune::testing {
namespace {

bool WildcardMatch(const wchar_t* pattern, const wchar_t* name) {
    if (*pattern == 0) return *name == 0;
    if (*pattern == L'*') {
        for (const wchar_t* n = name;; ++n) {
            if (WildcardMatch(pattern + 1, n)) return true;
            if (*n == 0) return false;
        }
    }
    if (*name == 0) return false;
    if (*pattern == L'?' || towupper(*pattern) == towupper(*name)) return WildcardMatch(pattern + 1, name + 1);
    return false;
}

// A lookup that fails leaves its reason in `error` and returns `failed` (false, or no record).
template <typename T> T Refuse(DWORD& error, DWORD why, T failed) {
    error = why;
    return failed;
}

} // namespace

std::wstring Upper(const std::wstring& s) {
    std::wstring u = s;
    for (auto& c : u) c = static_cast<wchar_t>(towupper(c));
    return u;
}

bool SameName(const std::wstring& a, const std::wstring& b) { return Upper(a) == Upper(b); }

bool HasWildcards(const std::wstring& s) {
    return s.find_first_of(L"*?", s.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0) != std::wstring::npos; // past a "\\?\" prefix
}

bool MatchesPattern(const std::wstring& pattern, const std::wstring& name) {
    if (pattern == L"*.*" || pattern == L"*") return true;
    return WildcardMatch(pattern.c_str(), name.c_str());
}

std::vector<std::wstring> SplitComponents(const std::wstring& rest) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        if (end > start) parts.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

FakeVolumeSet* FakeVolumeSet::Impl::active = nullptr;

FakeVolumeSet::Impl* FakeVolumeSet::Impl::Self() { return active->impl_.get(); }


bool FakeVolumeSet::Impl::Canonical(std::wstring s, std::wstring& out, int depth) {
    if (s.empty() || depth > 2) return false;
    std::replace(s.begin(), s.end(), L'/', L'\\');
    if (s.rfind(L"\\\\?\\", 0) == 0) {
        out = s;
        return true;
    }
    std::wstring prefix, rest;
    if (s.rfind(L"\\\\", 0) == 0) {
        size_t server = s.find(L'\\', 2);
        if (server == std::wstring::npos) {
            out = s;
            return true;
        }
        size_t share = s.find(L'\\', server + 1);
        if (share == std::wstring::npos) share = s.size();
        prefix = s.substr(0, share);
        rest = s.substr(share);
    } else if (s.size() >= 2 && s[1] == L':') {
        wchar_t letter = static_cast<wchar_t>(towupper(s[0]));
        if (s.size() >= 3 && s[2] == L'\\') {
            prefix = std::wstring(1, letter) + L":";
            rest = s.substr(2);
        } else if (towupper(currentDirectory[0]) == letter && currentDirectory[1] == L':') {
            return Canonical(currentDirectory + L"\\" + s.substr(2), out, depth + 1);
        } else {
            prefix = std::wstring(1, letter) + L":";
            rest = L"\\" + s.substr(2);
        }
    } else if (s[0] == L'\\') {
        prefix = RootPrefix(currentDirectory);
        rest = s;
    } else {
        return Canonical(currentDirectory + L"\\" + s, out, depth + 1);
    }
    bool trailing = !rest.empty() && rest.back() == L'\\';
    std::vector<std::wstring> parts;
    for (auto& part : SplitComponents(rest)) {
        if (part == L".") continue;
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    // Win32's name rules drop trailing dots and spaces of the last name ("f:a." opens "f:a");
    // only a "\\?\" path keeps them.
    if (!parts.empty() && !trailing) {
        size_t kept = parts.back().find_last_not_of(L". ");
        if (kept != std::wstring::npos) parts.back().erase(kept + 1);
    }
    out = prefix;
    if (prefix.size() == 2 || !parts.empty() || trailing) out += L"\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        out += parts[i];
        if (i + 1 < parts.size() || trailing) out += L"\\";
    }
    return true;
}

std::wstring FakeVolumeSet::Impl::RootPrefix(const std::wstring& full) {
    if (full.rfind(L"\\\\", 0) == 0) {
        size_t server = full.find(L'\\', 2);
        size_t share = server == std::wstring::npos ? std::wstring::npos : full.find(L'\\', server + 1);
        return full.substr(0, share);
    }
    return full.substr(0, 2);
}

Volume* FakeVolumeSet::Impl::VolumeByLetter(wchar_t letter) {
    for (auto& v : volumes)
        if (v->letter && towupper(v->letter) == towupper(letter)) return v.get();
    return nullptr;
}

Volume* FakeVolumeSet::Impl::VolumeByGuidPath(const std::wstring& path) {
    for (auto& v : volumes)
        if (!v->guidPath.empty() && SameName(v->guidPath, path)) return v.get();
    return nullptr;
}

bool FakeVolumeSet::Impl::NotReady(Volume* v) {
    if (v->options.ready) return false;
    if (!(ThreadErrorMode() & SEM_FAILCRITICALERRORS)) ++criticalDialogs;
    return true;
}

Record* FakeVolumeSet::Impl::Child(Record* dir, std::wstring& name) {
    auto found = dir->byUpperName.find(Upper(name));
    if (found != dir->byUpperName.end()) return found->second;
    auto alias = dir->longByShortName.find(Upper(name));
    if (alias == dir->longByShortName.end()) return nullptr;
    found = dir->byUpperName.find(Upper(alias->second));
    if (found == dir->byUpperName.end()) return nullptr; // the entry went, its short name with it
    name = alias->second;
    return found->second;
}

// The folder a mount-point record leads to, or the file or folder of a symbolic link.
// A relative symbolic link's name, from the volume's GUID path and the folder that holds the link,
// with "." and ".." taken out; ".." at the root stays there, as the object manager keeps it.
static std::wstring FromFolder(Record* folder, const std::wstring& relative) {
    std::wstring inside;
    if (!folder->names.empty()) inside = Impl::VolumePath(folder->names.front().first, folder->names.front().second);
    std::vector<std::wstring> parts;
    for (auto& part : SplitComponents(inside + L"\\" + relative)) {
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (part != L".") {
            parts.push_back(part);
        }
    }
    std::wstring path = folder->volume->guidPath;
    for (size_t i = 0; i < parts.size(); ++i) path += (i ? L"\\" : L"") + parts[i];
    return path;
}

Record* FakeVolumeSet::Impl::FollowReparse(Record* record, int hops, DWORD& error, Record* linkFolder) {
    if (hops > kMaxReparseHops) return Refuse(error, ERROR_CANT_RESOLVE_FILENAME, nullptr);
    const auto* header = reinterpret_cast<const MountPointRecord*>(record->reparse.data());
    // A tag that names no other entry (a cloud placeholder, a deduplicated file) is served in place
    // by its file-system filter.
    if (record->reparse.size() >= 8 && !(header->reparseTag & kNameSurrogateBit)) return record;
    bool symbolic = record->reparse.size() >= 20 && header->reparseTag == kSymbolicLinkTag;
    if (record->reparse.size() < 20 || (header->reparseTag != kMountPointTag && !symbolic)) {
        error = ERROR_CANT_ACCESS_FILE;
        return nullptr;
    }
    // A symbolic link's names follow a flags field.
    size_t names = symbolic ? 20 : 16;
    std::wstring substitute(reinterpret_cast<const wchar_t*>(record->reparse.data() + names +
                                                              header->substituteNameOffset),
                            header->substituteNameLength / 2);
    uint32_t flags = 0;
    if (symbolic) std::memcpy(&flags, record->reparse.data() + 16, 4);
    if (symbolic && (flags & kRelativeSymbolicLink)) {
        Located at;
        if (!linkFolder || !Locate(FromFolder(linkFolder, substitute), true, at, error, hops + 1)) return nullptr;
        if (!at.record) error = ERROR_FILE_NOT_FOUND;
        return at.record;
    }
    // "\??\UNC\server\share\..." names a share.
    if (substitute.rfind(L"\\??\\UNC\\", 0) == 0) substitute = L"\\??\\\\\\" + substitute.substr(8);
    if (substitute.rfind(L"\\??\\", 0) != 0) return Refuse(error, ERROR_PATH_NOT_FOUND, nullptr);
    std::wstring target = substitute.substr(4);
    // On a share the server resolves the name on its own drives: "C:\x" is the server's C:, never ours.
    if (!record->volume->uncRoot.empty() && target.size() >= 3 && target[1] == L':') {
        if (towupper(target[0]) != record->volume->serverDrive) return Refuse(error, ERROR_PATH_NOT_FOUND, nullptr);
        target = record->volume->uncRoot + target.substr(2);
    }
    if (target.rfind(L"Volume{", 0) == 0) {
        Volume* v = VolumeByGuidPath(L"\\\\?\\" + target);
        if (!v) return Refuse(error, ERROR_PATH_NOT_FOUND, nullptr);
        if (NotReady(v)) return Refuse(error, ERROR_NOT_READY, nullptr);
        return v->root;
    }
    Located at;
    if (!Locate(target, true, at, error, hops + 1)) return nullptr;
    if (!at.record || (!symbolic && !at.record->isDir)) return Refuse(error, ERROR_PATH_NOT_FOUND, nullptr);
    return at.record;
}

// Finds what a full path names. A missing last component leaves record null.
bool FakeVolumeSet::Impl::Locate(const std::wstring& full, bool followFinal, Located& at, DWORD& error, int hops) {
    if (full.rfind(L"\\\\?\\", 0) == 0 && full.rfind(L"\\\\?\\Volume{", 0) != 0) {
        // "\\?\D:\..." and "\\?\UNC\server\share\...": the same names, taken as they stand.
        if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) return Locate(L"\\" + full.substr(7), followFinal, at, error, hops);
        if (full.size() >= 7 && full[5] == L':' && full[6] == L'\\') return Locate(full.substr(4), followFinal, at, error, hops);
        error = ERROR_INVALID_NAME;
        return false;
    }
    Volume* volume = nullptr;
    std::wstring rest;
    if (full.rfind(L"\\\\?\\Volume{", 0) == 0) {
        size_t close = full.find(L"}\\");
        if (close == std::wstring::npos) return Refuse(error, ERROR_INVALID_NAME, false);
        volume = VolumeByGuidPath(full.substr(0, close + 2));
        rest = full.substr(close + 2);
    } else if (full.rfind(L"\\\\", 0) == 0) {
        for (auto& v : volumes) {
            if (v->uncRoot.empty()) continue;
            const std::wstring& r = v->uncRoot;
            if (full.size() >= r.size() && SameName(full.substr(0, r.size()), r) &&
                (full.size() == r.size() || full[r.size()] == L'\\')) {
                volume = v.get();
                rest = full.substr(r.size());
            }
        }
        if (!volume) return Refuse(error, ERROR_BAD_NETPATH, false);
    } else if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        auto alias = aliases.find(static_cast<wchar_t>(towupper(full[0])));
        if (alias != aliases.end()) return Locate(alias->second + full.substr(2), followFinal, at, error, hops);
        volume = VolumeByLetter(full[0]);
        rest = full.substr(3);
    }
    if (!volume) return Refuse(error, ERROR_PATH_NOT_FOUND, false);
    if (NotReady(volume)) return Refuse(error, ERROR_NOT_READY, false);
    std::vector<std::wstring> parts = SplitComponents(rest);
    at = Located{};
    at.volume = volume;
    Record* current = volume->root;
    if (parts.empty()) {
        at.record = current;
        return true;
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::wstring name = parts[i];
        if (last) {
            size_t colon = name.find(L':');
            if (colon != std::wstring::npos) {
                std::wstring stream = name.substr(colon + 1);
                name = name.substr(0, colon);
                size_t type = stream.find(L':');
                if (type != std::wstring::npos) {
                    if (!SameName(stream.substr(type + 1), L"$DATA")) return Refuse(error, ERROR_INVALID_NAME, false);
                    stream = stream.substr(0, type);
                }
                if (name.empty() || stream.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos) {
                    error = ERROR_INVALID_NAME;
                    return false;
                }
                at.stream = stream;
            }
        } else if (name.find(L':') != std::wstring::npos) {
            error = ERROR_INVALID_NAME;
            return false;
        }
        if (name.find_first_of(L"*?\"<>|") != std::wstring::npos) return Refuse(error, ERROR_INVALID_NAME, false);
        if (!current->isDir) return Refuse(error, ERROR_PATH_NOT_FOUND, false);
        if (current->denied) return Refuse(error, ERROR_ACCESS_DENIED, false);
        Record* child = Child(current, name);
        if (!child) {
            if (!last) return Refuse(error, ERROR_PATH_NOT_FOUND, false);
            at.parent = current;
            at.name = name;
            at.volume = current->volume;
            return true;
        }
        if (!child->reparse.empty() && (!last || followFinal)) {
            Record* target = FollowReparse(child, hops, error, current);
            if (!target) return false;
            if (last) {
                at.parent = current;
                at.name = name;
                at.record = target;
                at.volume = target->volume;
                return true;
            }
            current = target;
            continue;
        }
        if (last) {
            at.parent = current;
            at.name = name;
            at.record = child;
            at.volume = child->volume;
            return true;
        }
        current = child;
    }
    return true;
}

bool FakeVolumeSet::Impl::LocatePath(const wchar_t* path, bool followFinal, Located& at, DWORD& error) {
    std::wstring full;
    if (!path || !Canonical(path, full)) {
        error = path && *path ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
        return false;
    }
    return Locate(full, followFinal, at, error);
}

Located FakeVolumeSet::Impl::MustLocate(const std::wstring& path, bool followFinal) {
    Located at;
    DWORD error = 0;
    if (!LocatePath(path.c_str(), followFinal, at, error))
        throw std::runtime_error("fake volumes: bad path in test set-up");
    return at;
}

Record* FakeVolumeSet::Impl::MustFind(const std::wstring& path, bool followFinal) {
    Located at = MustLocate(path, followFinal);
    if (!at.record) throw std::runtime_error("fake volumes: no such entry in test set-up");
    return at.record;
}

Record* FakeVolumeSet::Impl::NewRecord(Volume* volume, bool isDir) {
    auto record = std::make_unique<Record>();
    record->index = volume->nextIndex++;
    record->isDir = isDir;
    record->attributes = isDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    record->volume = volume;
    volume->records.push_back(std::move(record));
    return volume->records.back().get();
}

Record* FakeVolumeSet::Impl::AddEntry(Located& at, bool isDir) {
    Record* record = NewRecord(at.parent->volume, isDir);
    record->links = 1;
    at.parent->AddChild(at.name, record);
    return record;
}

std::vector<uint8_t>* FakeVolumeSet::Impl::StreamData(Record* record, const std::wstring& stream, bool create) {
    if (stream.empty()) return &record->data;
    for (auto& s : record->streams)
        if (SameName(s.first, stream)) return &s.second;
    if (!create) return nullptr;
    record->streams.emplace_back(stream, std::vector<uint8_t>());
    return &record->streams.back().second;
}

bool FakeVolumeSet::Impl::HasOpenWithoutShare(Record* record, DWORD share) {
    for (auto& h : handles)
        if (h.second.kind == HandleObject::File && h.second.file.record == record &&
            (h.second.file.share & share) != share && h.second.file.access != 0)
            return true;
    return false;
}

HANDLE FakeVolumeSet::Impl::NewHandle(HandleObject object) {
    uintptr_t value = nextHandle;
    nextHandle += 4;
    handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

HandleObject* FakeVolumeSet::Impl::Find(HANDLE handle, HandleObject::Kind kind) {
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

WIN32_FIND_DATAW FakeVolumeSet::Impl::FindDataOf(const std::wstring& name, Record* record) {
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = record->attributes;
    data.nFileSizeLow = static_cast<DWORD>(record->data.size());
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(record->data.size()) >> 32);
    data.dwReserved0 = TagOf(record);
    wcsncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return data;
}

DWORD FakeVolumeSet::Impl::TagOf(Record* record) {
    return record->reparse.size() >= 4 ? *reinterpret_cast<const DWORD*>(record->reparse.data()) : 0;
}

std::vector<std::pair<std::wstring, Record*>> FakeVolumeSet::Impl::Listing(Record* folder) {
    std::vector<std::pair<std::wstring, Record*>> entries;
    if (folder != folder->volume->root) entries = {{L".", folder}, {L"..", folder}};
    // NTFS lists a folder in the order of its index (upper-cased names, ordinal); FAT in creation order.
    std::vector<std::pair<std::wstring, size_t>> keys;
    for (size_t i = 0; i < folder->children.size(); ++i)
        keys.emplace_back(folder->volume->IsNtfs() ? Upper(folder->children[i].first) : L"", i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& key : keys) entries.push_back(folder->children[key.second]);
    return entries;
}

std::wstring FakeVolumeSet::Impl::VolumePath(Record* folder, const std::wstring& name) {
    std::wstring path = L"\\" + name;
    for (Record* at = folder; at != at->volume->root && !at->names.empty(); at = at->names.front().first)
        path = L"\\" + at->names.front().second + path;
    return path;
}

std::wstring FakeVolumeSet::Impl::DosRoot(Volume* volume, int depth) {
    if (volume->letter) return std::wstring(L"\\\\?\\") + volume->letter + L":";
    if (!volume->uncRoot.empty()) return L"\\\\?\\UNC" + volume->uncRoot.substr(1);
    for (auto& other : volumes) {
        for (auto& record : other->records) {
            DWORD error = 0;
            if (depth > 4 || record->reparse.empty() || record->names.empty() || TagOf(record.get()) != kMountPointTag ||
                FollowReparse(record.get(), 0, error) != volume->root)
                continue;
            std::wstring above = DosRoot(other.get(), depth + 1);
            if (!above.empty()) return above + VolumePath(record->names.front().first, record->names.front().second);
        }
    }
    return L"";
}

std::vector<std::wstring>::iterator FakeVolumeSet::Impl::MountEntry(Volume* volume, const std::wstring& folder) {
    auto& entries = volume->mountedAt;
    return std::find_if(entries.begin(), entries.end(), [&](const std::wstring& e) { return SameName(e, folder); });
}

std::vector<uint8_t> ReparseRecord(DWORD tag, const std::wstring& substitute, const std::wstring& print,
                                   bool printNameFirst, DWORD flags) {
    if (tag != kMountPointTag && tag != kSymbolicLinkTag) { // a filter's own data, opaque here
        std::vector<uint8_t> bytes = {0, 0, 0, 0, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
        std::memcpy(bytes.data(), &tag, 4);
        return bytes;
    }
    size_t names = tag == kSymbolicLinkTag ? 20 : 16; // a symbolic link's flags come first
    const std::wstring& first = printNameFirst ? print : substitute;
    const std::wstring& second = printNameFirst ? substitute : print;
    std::vector<uint8_t> bytes(names + (first.size() + second.size() + 2) * 2, 0);
    auto* record = reinterpret_cast<MountPointRecord*>(bytes.data());
    record->reparseTag = tag;
    record->reparseDataLength = static_cast<uint16_t>(bytes.size() - 8);
    uint16_t secondOffset = static_cast<uint16_t>(first.size() * 2 + 2);
    record->substituteNameOffset = printNameFirst ? secondOffset : 0;
    record->substituteNameLength = static_cast<uint16_t>(substitute.size() * 2);
    record->printNameOffset = printNameFirst ? 0 : secondOffset;
    record->printNameLength = static_cast<uint16_t>(print.size() * 2);
    if (tag == kSymbolicLinkTag) std::memcpy(bytes.data() + 16, &flags, 4);
    std::memcpy(bytes.data() + names, first.c_str(), first.size() * 2);
    std::memcpy(bytes.data() + names + secondOffset, second.c_str(), second.size() * 2);
    return bytes;
}

} // namespace kestrune::testing
