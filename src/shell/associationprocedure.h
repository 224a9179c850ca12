// The two-phase procedure behind the association dialog's buttons: phase 1
// creates the .txt type and its txtfile class with description, icon and open
// command; phase 2 reads back which class .txt maps to and rewrites that
// class's command and icon, opening keys but never creating them. Standard
// library only, so that it runs against the real registry under Windows.
#pragma once

#include "shell/registry.h"

#include <functional>
#include <string>
#include <vector>

namespace Inkwell {

class SystemDirectory;

struct AssociationValues {
    std::u16string icon;
    std::u16string command;
};

enum class AssociationReport {
    TypeCreated,    // phase 1: every create and write worked
    TypeNotCreated, // phase 1: some create or write failed
    CommandChanged, // phase 2: the open command was stored
    CommandNotChanged,
    IconChanged, // phase 2: the icon was stored
    IconNotChanged,
};

class AssociationProcedure {
public:
    // tell is called three times per run, in order, and returns when the
    // user has read the report: the next step waits for it.
    using Tell = std::function<void(AssociationReport)>;

    AssociationProcedure(Registry &registry, Tell tell);

    void run(const AssociationValues &values);

    // "注册": this program. The command names inkwell.exe whatever the running
    // executable is called: it is what Windows runs for a .txt file.
    static AssociationValues forProgram(const std::u16string &programDirectory);
    // "反注册": the system's Notepad, from a 125-character system-directory buffer.
    static AssociationValues forNotepad(SystemDirectory &system);

private:
    RegKey create(RegKey parent, const std::u16string &name);
    RegKey open(const std::u16string &path);
    bool write(RegKey key, const std::u16string &data);

    Registry &m_registry;
    Tell m_tell;
    std::vector<RegKey> m_handles;
    bool m_phase1Failed = false;
};

} // namespace Inkwell
