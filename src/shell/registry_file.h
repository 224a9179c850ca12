// The registry on systems other than Windows: keys and values kept in one
// file, registry.reg, in the format of the registry editor's export files.
// Every call reads the file afresh under a lock, and every change is
// written to a temporary file, flushed and renamed over the old one, so two
// running editors never lose each other's writes or leave half a file. A
// file that cannot be read as a registry file is moved aside, never
// overwritten, and the call that found it fails with RegCode::BadDatabase.
#pragma once

#include "shell/regfileformat.h"
#include "shell/registry.h"

#include <map>
#include <string>
#include <vector>

namespace Inkwell {

class FileRegistry : public Registry {
public:
    // directory: where registry.reg lives; created on the first write.
    explicit FileRegistry(std::string directory);

    // $XDG_CONFIG_HOME/inkwell, or ~/.config/inkwell.
    static std::string defaultDirectory();
    std::string filePath() const;

    long createKey(RegKey parent, const std::u16string &subKey, RegKey *result) override;
    long openKey(RegKey parent, const std::u16string &subPath, RegKey *result) override;
    long setValue(RegKey key, const std::u16string &name, std::uint32_t type, const char *data,
                  std::uint32_t size) override;
    long queryValue(RegKey key, const std::u16string &name, std::uint32_t *type, char *data,
                    std::uint32_t *size) override;
    long closeKey(RegKey key) override;
    std::u16string describe(long code) const override;
    std::u16string takeStorageProblem() override;

    // What happened to the last damaged file found (where it was moved and
    // why it was refused), empty when none was found during this run.
    std::u16string damageReport() const { return m_damageReport; }

    // What a fresh Windows holds for the keys the program touches.
    static std::vector<RegKeyNode> freshKeys();

private:
    using Tree = std::vector<RegKeyNode>;
    class Session;

    long load(Tree *tree);
    long save(const Tree &tree);
    long resolve(RegKey key, const Tree &tree, std::u16string *path) const;
    // The tree read fresh from the file, and the path of an open key in it.
    long loadAndResolve(RegKey key, Tree *tree, std::u16string *path);
    long openOrCreate(RegKey parent, const std::u16string &subPath, bool create, RegKey *result);
    RegKey newHandle(const std::u16string &path);

    std::string m_directory;
    std::map<RegKey, std::u16string> m_handles; // open handle -> full key path
    RegKey m_nextHandle = 0x100;
    std::u16string m_damageReport;
};

} // namespace Inkwell
