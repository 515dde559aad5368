#include "IIniData.h"

#include <QFileInfo>
#include <QString>
#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {
bool InRange(int i) {
    return i >= 0 && i < IIniData::kRecentCapacity;
}
}  // namespace

IIniData::~IIniData() = default;

bool IIniData::IsExistingFile(const wchar_t* path) {
    if (path == nullptr || *path == L'\0')
        return false;
    const QFileInfo info(QString::fromWCharArray(path));
    return info.exists() && !info.isDir();
}

int IIniData::FindRecent(const wchar_t* path) const {
    for (int i = 0; i < kRecentCapacity && recent[i]; ++i) {
        if (*recent[i] == path)
            return i;
    }
    return -1;
}

void IIniData::AddRecent(const wchar_t* path) {
    if (!IsExistingFile(path))
        return;
    if (const int existing = FindRecent(path); existing >= 0) {
        MoveRecentToTop(existing);
        return;
    }
    // The oldest entry falls off the end of a full list.
    std::move_backward(recent.begin(), recent.end() - 1, recent.end());
    recent[0] = std::wstring(path);
}

const wchar_t* IIniData::GetRecent(int i) {
    if (!InRange(i) || !recent[i])
        return nullptr;
    if (!IsExistingFile(recent[i]->c_str())) {
        RemoveRecent(i);
        return nullptr;
    }
    return recent[i]->c_str();
}

std::unique_ptr<wchar_t[]> IIniData::DuplicateRecent(int i) {
    const wchar_t* path = GetRecent(i);
    if (path == nullptr)
        return nullptr;
    const std::size_t length = std::wcslen(path);
    auto copy = std::make_unique<wchar_t[]>(length + 1);
    std::wmemcpy(copy.get(), path, length + 1);
    return copy;
}

void IIniData::MoveRecentToTop(int i) {
    if (!InRange(i) || !recent[i])
        return;
    std::rotate(recent.begin(), recent.begin() + i, recent.begin() + i + 1);
}

void IIniData::RemoveRecent(int i) {
    if (!InRange(i) || !recent[i])
        return;
    std::move(recent.begin() + i + 1, recent.end(), recent.begin() + i);
    recent.back().reset();
}

int IIniData::GetRecentCapacity() {
    return kRecentCapacity;
}
