#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"

#include "Common/LogError.h"

#include <string>

namespace
{
// GetProcAddress hands every call back under one generic type; going through void(*)() first
// says that the cast to the real signature is meant.
template <typename tFunction> tFunction Resolve(HMODULE Library, const char* Name)
{
    return reinterpret_cast<tFunction>(reinterpret_cast<void (*)()>(GetProcAddress(Library, Name)));
}
} // namespace

cVirtualMIDIDriverWin::~cVirtualMIDIDriverWin()
{
    if (mLibrary != nullptr)
        FreeLibrary(mLibrary);
}

bool cVirtualMIDIDriverWin::Load()
{
    if (mTried)
        return mLibrary != nullptr;
    mTried = true;
    const QString library = QString::fromWCharArray(LibraryName());
    mLibrary = LoadLibraryW(LibraryName());
    if (mLibrary == nullptr)
    {
        mLoadError = GetLastError();
        LOG_ERROR("Virtual MIDI driver library %s not loaded, Error %u: virtual ports cannot reach a DAW",
                  library.toLocal8Bit().constData(), static_cast<unsigned>(mLoadError));
        return false;
    }
    mCreatePortEx2 = Resolve<tCreatePortEx2>(mLibrary, "virtualMIDICreatePortEx2");
    mSendData = Resolve<tSendData>(mLibrary, "virtualMIDISendData");
    mClosePort = Resolve<tClosePort>(mLibrary, "virtualMIDIClosePort");
    if (mCreatePortEx2 == nullptr || mSendData == nullptr || mClosePort == nullptr)
    {
        mLoadError = GetLastError();
        LOG_ERROR("Virtual MIDI driver library %s lacks its port calls, Error %u: virtual ports cannot reach a DAW",
                  library.toLocal8Bit().constData(), static_cast<unsigned>(mLoadError));
        FreeLibrary(mLibrary);
        mLibrary = nullptr;
        return false;
    }
    return true;
}

tVirtualMIDIPort cVirtualMIDIDriverWin::CreatePort(const QString& Name, tVirtualMIDIDataCallback Callback, DWORD_PTR Instance,
                                                   DWORD MaxSysExLength, DWORD Flags)
{
    if (!Load())
    {
        SetLastError(mLoadError);
        return nullptr;
    }
    // The driver wants a NUL-terminated wide string; std::wstring keeps one after its characters.
    const std::wstring name = Name.toStdWString();
    return mCreatePortEx2(name.c_str(), Callback, Instance, MaxSysExLength, Flags);
}

bool cVirtualMIDIDriverWin::SendData(tVirtualMIDIPort Port, const BYTE* Bytes, DWORD Length)
{
    if (mSendData == nullptr || Port == nullptr)
        return false;
    // The driver copies the bytes and never writes them; its signature has no const.
    return mSendData(Port, const_cast<LPBYTE>(Bytes), Length) != FALSE;
}

void cVirtualMIDIDriverWin::ClosePort(tVirtualMIDIPort Port)
{
    if (mClosePort != nullptr && Port != nullptr)
        mClosePort(Port);
}
