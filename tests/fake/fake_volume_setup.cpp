// Set-up of the volume set: volumes, shares and content, and inspection of what the calls did.
#include "tests/fake/fake_volume_model.h"

#include <cstring>
#include <stdexcept>

#include "ntfs/reparse/reparse_record.h"

namespace kestrune::testing {

FakeVolumeSet::FakeVolumeSet() : impl_(std::make_unique<Impl>()) {
    BindFileCalls(impl_->api);
    BindSearchCalls(impl_->api);
    BindVolumeCalls(impl_->api);
    BindReparseCalls(impl_->api);
    BindBackupCalls(impl_->api);
    BindHeapAndEventCalls(impl_->api);
    BindStreamSearchCalls(impl_->api, StreamCalls::Present);
    BindNamespaceCalls(impl_->api);
    BindHandleInfoCalls(impl_->api);
}

FakeVolumeSet::~FakeVolumeSet() {
    if (Impl::active == this) Impl::active = nullptr;
    for (auto& block : impl_->blocks) ::GlobalFree(block.first);
}

namespace {
std::wstring MakeVolume(Impl& impl, wchar_t letter, const std::wstring& unc, const VolumeOptions& options) {
    auto volume = std::make_unique<Volume>();
    int number = ++impl.volumeCounter;
    wchar_t guid[64];
    swprintf(guid, 64, L"\\\\?\\Volume{%08x-4b1d-11e9-a3c0-%012x}\\", 0x5eed0000 + number, number * 7919);
    volume->guidPath = unc.empty() ? guid : L"";
    volume->letter = letter ? static_cast<wchar_t>(towupper(letter)) : 0;
    volume->uncRoot = unc;
    volume->options = options;
    if (!volume->options.serial) volume->options.serial = 0x1A2B0000u + static_cast<DWORD>(number);
    volume->nextIndex = options.firstIndex;
    volume->root = impl.NewRecord(volume.get(), true);
    volume->root->links = 1;
    std::wstring name = volume->guidPath;
    impl.volumes.push_back(std::move(volume));
    return name;
}
// What a path names, read or changed under the set's lock.
template <typename Step> auto WithRecord(FakeVolumeSet::Impl& impl, const std::wstring& path, Step step) {
    std::lock_guard<std::recursive_mutex> lock(impl.mutex);
    return step(*impl.MustFind(path));
}
} // namespace

std::wstring FakeVolumeSet::AddVolume(wchar_t letter, const VolumeOptions& options) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return MakeVolume(*impl_, letter, L"", options);
}

std::wstring FakeVolumeSet::AddUnletteredVolume(const VolumeOptions& options) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return MakeVolume(*impl_, 0, L"", options);
}

void FakeVolumeSet::AddShare(const std::wstring& uncRoot, wchar_t serverDrive) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    MakeVolume(*impl_, 0, uncRoot, VolumeOptions{});
    impl_->volumes.back()->serverDrive = static_cast<wchar_t>(towupper(serverDrive));
}

void FakeVolumeSet::SetDriveType(wchar_t letter, UINT type) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->VolumeByLetter(letter)->options.driveType = type;
}

void FakeVolumeSet::SetStreamRenames(wchar_t letter, bool inPlace) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->VolumeByLetter(letter)->options.renamesStreams = inPlace;
}

void FakeVolumeSet::SetFreeBytes(wchar_t letter, uint64_t bytes) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Volume* volume = impl_->VolumeByLetter(letter);
    volume->capacity = volume->UsedBytes() + bytes;
}

void FakeVolumeSet::AddDriveAlias(wchar_t letter, const std::wstring& target) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->aliases[static_cast<wchar_t>(towupper(letter))] = target;
}

void FakeVolumeSet::SetReady(wchar_t letter, bool ready) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->VolumeByLetter(letter)->options.ready = ready;
}

namespace {
Located NewEntryAt(Impl& impl, const std::wstring& path) {
    Located at = impl.MustLocate(path, false);
    if (at.record || !at.parent || !at.stream.empty())
        throw std::runtime_error("fake volumes: entry exists or has no parent");
    return at;
}
} // namespace

void FakeVolumeSet::MakeFolder(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = NewEntryAt(*impl_, path);
    impl_->AddEntry(at, true);
}

void FakeVolumeSet::MakeFile(const std::wstring& path, const std::string& data) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = NewEntryAt(*impl_, path);
    impl_->AddEntry(at, false)->data.assign(data.begin(), data.end());
}

void FakeVolumeSet::MakeStream(const std::wstring& path, const std::wstring& name, const std::string& data) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(path);
    impl_->StreamData(record, name, true)->assign(data.begin(), data.end());
}

void FakeVolumeSet::MakeStreamOfSize(const std::wstring& path, const std::wstring& name, size_t bytes) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(path);
    impl_->StreamData(record, name, true)->assign(bytes, 0x5A);
}

void FakeVolumeSet::MakeTypedStream(const std::wstring& path, const std::wstring& name, const std::wstring& type) {
    WithRecord(*impl_, path, [&](Record& r) { r.otherStreams.emplace_back(name, type); });
}
void FakeVolumeSet::DenyStreamDelete(const std::wstring& path, const std::wstring& name) {
    WithRecord(*impl_, path, [&](Record& r) { r.deleteDenied.insert(Upper(name)); });
}

void FakeVolumeSet::MakeLink(const std::wstring& existing, const std::wstring& newPath) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(existing);
    Located at = NewEntryAt(*impl_, newPath);
    at.parent->AddChild(at.name, record);
    ++record->links;
}

void FakeVolumeSet::MakeJunction(const std::wstring& folder, const std::wstring& target) {
    std::wstring substitute = L"\\??\\" + target;
    if (substitute.back() != L'\\') substitute += L'\\';
    if (!Exists(folder)) MakeFolder(folder);
    SetRawReparse(folder, ReparseRecord(kMountPointTag, substitute));
}

void FakeVolumeSet::MakeMount(const std::wstring& folder, const std::wstring& volumeName) {
    if (!Exists(folder)) MakeFolder(folder);
    SetRawReparse(folder, ReparseRecord(kMountPointTag, L"\\??\\" + volumeName.substr(4)));
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    if (Volume* volume = impl_->VolumeByGuidPath(volumeName)) volume->mountedAt.push_back(folder + L"\\");
}

void FakeVolumeSet::MakeSymbolicLink(const std::wstring& path, const std::wstring& target, bool folder, bool relative) {
    if (folder)
        MakeFolder(path);
    else
        MakeFile(path);
    SetRawReparse(path, ReparseRecord(kSymbolicLinkTag, relative ? target : L"\\??\\" + target, target, false, relative));
}

void FakeVolumeSet::SetRawReparse(const std::wstring& path, const std::vector<uint8_t>& data) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(path);
    record->reparse = data;
    if (data.empty())
        record->attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    else
        record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}

static void MakePlaceholders(Record* folder, DWORD tag) {
    if (!folder->isDir || !folder->reparse.empty()) return;
    folder->reparse = ReparseRecord(tag);
    folder->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    for (auto& child : folder->children) MakePlaceholders(child.second, kCloudSubTag);
}
void FakeVolumeSet::MakeCloudSyncRoot(const std::wstring& folder) { MakePlaceholders(impl_->MustFind(folder), kCloudTag); }

void FakeVolumeSet::SetReparseUnreadable(const std::wstring& path) {
    WithRecord(*impl_, path, [](Record& r) { r.reparseUnreadable = true; });
}

void FakeVolumeSet::SetDenied(const std::wstring& path) { WithRecord(*impl_, path, [](Record& r) { r.denied = true; }); }

void FakeVolumeSet::SetAdminOnly(const std::wstring& path) { WithRecord(*impl_, path, [](Record& r) { r.adminOnly = true; }); }

void FakeVolumeSet::SetElevated(bool elevated) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->elevated = elevated;
}

void FakeVolumeSet::SetListingDenied(const std::wstring& path) { WithRecord(*impl_, path, [](Record& r) { r.listDenied = true; }); }

bool FakeVolumeSet::MountManagerLists(const std::wstring& folder) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    for (auto& volume : impl_->volumes)
        if (Impl::MountEntry(volume.get(), folder + L"\\") != volume->mountedAt.end()) return true;
    return false;
}

void FakeVolumeSet::RefuseIdListing(const std::wstring& folder) {
    WithRecord(*impl_, folder, [](Record& r) { r.refusesIdListing = true; });
}

void FakeVolumeSet::SetIdListingRefused(bool refused) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->idListingRefused = refused;
}

void FakeVolumeSet::Use(const LinkWay& way) {
    SetNameCallsPresent(way.nameCalls);
    SetIdListingRefused(!way.idListing);
}

void FakeVolumeSet::AddAttributes(const std::wstring& path, DWORD attributes) {
    WithRecord(*impl_, path, [&](Record& r) { r.attributes |= attributes; });
}

void FakeVolumeSet::SetShortName(const std::wstring& path, const std::wstring& shortName) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = impl_->MustLocate(path, false);
    if (!at.record || !at.parent) throw std::runtime_error("fake volumes: no entry to name");
    at.parent->longByShortName[Upper(shortName)] = at.name;
}

void FakeVolumeSet::Remove(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = impl_->MustLocate(path, false);
    if (!at.record || !at.parent) throw std::runtime_error("fake volumes: nothing to remove");
    if (Record* child = at.parent->RemoveChild(at.name)) --child->links;
}

bool FakeVolumeSet::Exists(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at;
    DWORD error = 0;
    if (!impl_->LocatePath(path.c_str(), false, at, error) || !at.record) return false;
    return at.stream.empty() || impl_->StreamData(at.record, at.stream, false);
}

DWORD FakeVolumeSet::Attributes(const std::wstring& path) { return WithRecord(*impl_, path, [](Record& r) { return r.attributes; }); }

int FakeVolumeSet::LinkCount(const std::wstring& path) { return WithRecord(*impl_, path, [](Record& r) { return r.links; }); }

std::vector<uint8_t> FakeVolumeSet::ReparseData(const std::wstring& path) {
    return WithRecord(*impl_, path, [](Record& r) { return r.reparse; });
}

std::vector<std::wstring> FakeVolumeSet::StreamNames(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    std::vector<std::wstring> names;
    for (auto& s : impl_->MustFind(path)->streams) names.push_back(s.first);
    return names;
}

std::wstring FakeVolumeSet::CurrentDirectory() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->currentDirectory;
}

} // namespace kestrune::testing
