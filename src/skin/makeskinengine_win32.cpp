// The closed engine, loaded by name at run time so that the program starts
// without it: SkinH_VB6.dll holds the attach and adjust calls, SkinH.dll
// SkinHme. Where SkinH_VB6.dll does not load, the built-in engine stands in.
#include "skin/builtinskinengine.h"
#include "skin/skinlocations.h"

#include "platform/codepage.h"

#include <QDir>

#include <windows.h>

namespace Inkwell {

namespace {

using AttachFn = int(__stdcall *)();
using AttachExFn = int(__stdcall *)(const char *, const char *);
using AdjustAeroFn = int(__stdcall *)(int, int, int, int, int, int, int, int, int);
using HmeFn = int(__stdcall *)();

std::string ansi(const QString &text)
{
    return CodePage::encode(text.toStdU16String(), CodePage::systemAnsi()).bytes;
}

std::optional<Error> missing(const char *entry)
{
    return skinFailure(QStringLiteral("皮肤引擎缺少 %1").arg(QLatin1String(entry)));
}

// The engine's results mean nothing documented, so a call that reached the
// engine counts as done.
class LibrarySkinEngine : public SkinEngine {
public:
    LibrarySkinEngine(HMODULE vb6, HMODULE hme, const QString &userSkin)
        : m_vb6(vb6), m_hme(hme), m_userSkin(userSkin)
    {
    }
    ~LibrarySkinEngine() override = default; // the engine hooks windows until the end

    std::optional<Error> SkinH_Attach() override
    {
        // The engine's own choice is the copy beside the program; a copy the
        // skin command had to keep in the user's directory comes first.
        if (GetFileAttributesW(reinterpret_cast<const wchar_t *>(m_userSkin.utf16())) !=
            INVALID_FILE_ATTRIBUTES)
            return SkinH_AttachEx(m_userSkin, QString());
        const auto fn = entry<AttachFn>(m_vb6, "SkinH_Attach");
        if (!fn)
            return missing("SkinH_Attach");
        fn();
        return std::nullopt;
    }
    std::optional<Error> SkinH_AttachEx(const QString &path, const QString &password) override
    {
        const auto fn = entry<AttachExFn>(m_vb6, "SkinH_AttachEx");
        if (!fn)
            return missing("SkinH_AttachEx");
        fn(ansi(QDir::toNativeSeparators(path)).c_str(), ansi(password).c_str());
        return std::nullopt;
    }
    std::optional<Error> SkinH_AdjustAero(int value1, int value2, int value3, int value4,
                                          int value5, int value6, int value7, int value8,
                                          int value9) override
    {
        const auto fn = entry<AdjustAeroFn>(m_vb6, "SkinH_AdjustAero");
        if (!fn)
            return missing("SkinH_AdjustAero");
        fn(value1, value2, value3, value4, value5, value6, value7, value8, value9);
        return std::nullopt;
    }
    std::optional<Error> SkinHme() override
    {
        const auto fn = entry<HmeFn>(m_hme, "SkinHme");
        if (!fn)
            return missing("SkinHme");
        fn();
        return std::nullopt;
    }

private:
    template <typename Fn> static Fn entry(HMODULE module, const char *name)
    {
        const FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
        // void (*)() converts to any function pointer type without a warning.
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
    }

    HMODULE m_vb6;
    HMODULE m_hme;
    QString m_userSkin;
};

} // namespace

std::unique_ptr<SkinEngine> makeSkinEngine(const SkinLocations &locations)
{
    // No "cannot find the library" box when they are absent.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE vb6 = LoadLibraryW(L"SkinH_VB6.dll");
    HMODULE hme = LoadLibraryW(L"SkinH.dll");
    SetErrorMode(previous);
    if (vb6)
        return std::make_unique<LibrarySkinEngine>(vb6, hme, locations.userSkin());
    if (hme)
        FreeLibrary(hme);
    return std::make_unique<BuiltinSkinEngine>(locations.startupCandidates());
}

} // namespace Inkwell
