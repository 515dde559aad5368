#pragma once
// The settings store. The recent-file list is kept here; the rest is the
// concrete store's (IniReg).
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Result.h"

class IIniData {
  public:
    static constexpr int kRecentCapacity = 10;

    virtual ~IIniData();
    virtual void AddRecent(const wchar_t* path);
    // Entry i if its file still exists (an entry whose file is gone is dropped).
    virtual const wchar_t* GetRecent(int i);
    // A copy of GetRecent(i) that the caller owns; null when GetRecent(i) is.
    virtual std::unique_ptr<wchar_t[]> DuplicateRecent(int i);
    virtual void MoveRecentToTop(int i);
    virtual void RemoveRecent(int i);
    virtual int GetRecentCapacity();
    virtual const wchar_t* GetInputDeviceName() = 0;
    virtual const wchar_t* GetInputPinName() = 0;
    virtual HRESULT SetInputDeviceName(const wchar_t* name) = 0;
    virtual HRESULT SetInputPinName(const wchar_t* name) = 0;
    virtual int GetSpkVolPos() = 0;
    virtual int GetMcVolPos() = 0;
    virtual void SetSpkVolPos(int position) = 0;
    virtual void SetMcVolPos(int position) = 0;
    virtual void Load() = 0;
    virtual void Save() = 0;

  protected:
    std::optional<std::wstring> inputDeviceName;
    std::optional<std::wstring> inputPinName;
    std::int32_t speakerVolumePos = 50;
    std::int32_t micVolumePos = 50;
    // Most recent first, packed: every entry after the first empty one is empty.
    std::array<std::optional<std::wstring>, kRecentCapacity> recent;

    // True when path names something that exists and is not a directory.
    static bool IsExistingFile(const wchar_t* path);
    // The index of the entry equal to path (case-sensitive), or -1.
    int FindRecent(const wchar_t* path) const;
};
