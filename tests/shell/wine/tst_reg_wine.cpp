// The registry routines and the association procedure against a real
// Windows registry (Wine's, in a fresh prefix): standard library only, so
// that it builds with the MinGW cross compiler. Prints one line per check
// and exits with the number of failed checks.
#include "shell/associationprocedure.h"
#include "shell/reg.h"
#include "shell/registry.h"
#include "shell/systemdirectory.h"

#include "platform/codepage.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace Inkwell;

namespace {

int failures = 0;

std::string utf8(const std::u16string &s)
{
    return CodePage::encode(s, 65001).bytes;
}

void check(bool ok, const std::string &what)
{
    std::printf("%s - %s\n", ok ? "ok" : "not ok", what.c_str());
    failures += ok ? 0 : 1;
}

// The bytes the registry hands back for a value: size from the call with a buffer.
std::uint32_t storedSize(Registry &registry, RegKey key, std::uint32_t *type)
{
    std::uint32_t size = 0;
    if (registry.queryValue(key, u"", type, nullptr, &size) != RegCode::Success)
        return 0;
    std::string buffer(size + 16, '\x7f');
    size = std::uint32_t(buffer.size());
    if (registry.queryValue(key, u"", type, buffer.data(), &size) != RegCode::Success)
        return 0;
    return size;
}

std::u16string read(Registry &registry, const std::u16string &path, bool *ok)
{
    RegKey key = 0;
    std::u16string text;
    *ok = registry.openKey(HKEY_CLASSES_ROOT_KEY, path, &key) == RegCode::Success &&
          QueryStringValue(registry, key, u"", text);
    if (key)
        registry.closeKey(key);
    return text;
}

const char *name(AssociationReport r)
{
    switch (r) {
    case AssociationReport::TypeCreated:
        return "TypeCreated";
    case AssociationReport::TypeNotCreated:
        return "TypeNotCreated";
    case AssociationReport::CommandChanged:
        return "CommandChanged";
    case AssociationReport::CommandNotChanged:
        return "CommandNotChanged";
    case AssociationReport::IconChanged:
        return "IconChanged";
    case AssociationReport::IconNotChanged:
        return "IconNotChanged";
    }
    return "?";
}

} // namespace

int main()
{
    check(CodePage::systemAnsi() == 936,
          "the system code page is 936 (is " + std::to_string(CodePage::systemAnsi()) + ")");
    auto registry = makeSystemRegistry();
    Registry &reg = *registry;

    bool ok = false;
    check(read(reg, u".txt", &ok) == u"txtfile" && ok, "HKCR\\.txt maps to txtfile");

    RegKey key = 0;
    check(reg.createKey(HKEY_CLASSES_ROOT_KEY, u"InkwellTest\\Sizes", &key) == RegCode::Success,
          "create a test key");
    const struct {
        std::u16string data;
        std::uint32_t size;
        const char *what;
    } sizes[] = {{u"自定义类型", 11, "five Chinese characters: 11 bytes"},
                 {u"txtfile", 8, "seven ASCII letters: 8 bytes"},
                 {u"", 1, "empty data: 1 byte"}};
    for (const auto &row : sizes) {
        std::u16string back = u"unchanged";
        std::uint32_t type = 0;
        const bool set = SetStringValue(reg, key, u"", row.data);
        const std::uint32_t size = storedSize(reg, key, &type);
        const bool got = QueryStringValue(reg, key, u"", back);
        check(set && got && back == row.data && type == RegType::Sz && size == row.size,
              std::string(row.what) + " (stored " + std::to_string(size) + ", read back \"" +
                  utf8(back) + "\")");
    }

    std::u16string keep = u"keep";
    check(!QueryStringValue(reg, key, u"Missing", keep) && keep == u"keep",
          "a missing value reads False and keeps the text");
    check(!QueryStringValue(reg, 0, u"", keep) && keep == u"keep", "key handle 0 reads False");
    check(!SetStringValue(reg, 0, u"", u"x"), "key handle 0 writes False");
    const std::string expand = "%SystemRoot%\\x";
    reg.setValue(key, u"Expand", RegType::ExpandSz, expand.c_str(),
                 std::uint32_t(expand.size() + 1));
    check(!QueryStringValue(reg, key, u"Expand", keep) && keep == u"keep",
          "an expandable string (type 2) reads False");
    RegKey missing = 0x1234;
    check(reg.openKey(HKEY_CLASSES_ROOT_KEY, u"\\shell\\open\\command", &missing) !=
                  RegCode::Success &&
              missing == 0,
          "a path after an empty class name opens nothing");
    reg.closeKey(key);

    std::vector<AssociationReport> reports;
    AssociationProcedure procedure(reg, [&](AssociationReport r) { reports.push_back(r); });
    auto reportsAre = [&](const std::vector<AssociationReport> &expected) {
        std::string got;
        for (auto r : reports)
            got += std::string(got.empty() ? "" : ",") + name(r);
        const bool same = reports == expected;
        reports.clear();
        return std::make_pair(same, got);
    };

    procedure.run(AssociationProcedure::forProgram(u"C:\\文本 编辑器"));
    auto [registered, got1] =
        reportsAre({AssociationReport::TypeCreated, AssociationReport::CommandChanged,
                    AssociationReport::IconChanged});
    check(registered, "注册 reports " + got1);
    check(read(reg, u"txtfile\\shell\\open\\command", &ok) == u"C:\\文本 编辑器\\inkwell.exe %1" &&
              ok,
          "注册 stores the command");
    check(read(reg, u"TXTFILE\\DefaultIcon", &ok) == u"C:\\文本 编辑器\\txtfile.ico" && ok,
          "注册 stores the icon");
    check(read(reg, u"txtfile", &ok) == u"自定义类型" && ok, "the class description is set");

    auto system = makeSystemDirectory();
    const AssociationValues notepad = AssociationProcedure::forNotepad(*system);
    procedure.run(notepad);
    auto [restored, got2] =
        reportsAre({AssociationReport::TypeCreated, AssociationReport::CommandChanged,
                    AssociationReport::IconChanged});
    check(restored, "反注册 reports " + got2);
    const std::u16string command = read(reg, u"txtfile\\shell\\open\\command", &ok);
    check(ok && command == notepad.command &&
              (command == u"C:\\windows\\system32\\notepad.exe %1" ||
               command == u"C:\\Windows\\system32\\notepad.exe %1"),
          "反注册 stores Notepad's command: " + utf8(command));
    check(read(reg, u"txtfile\\DefaultIcon", &ok) == notepad.icon && ok,
          "反注册 stores shell32's icon: " + utf8(notepad.icon));

    std::printf("%d failed\n", failures);
    return failures;
}
