#include "shell/associationprocedure.h"

#include "shell/reg.h"
#include "shell/systemdirectory.h"

namespace Inkwell {

AssociationProcedure::AssociationProcedure(Registry &registry, Tell tell)
    : m_registry(registry), m_tell(std::move(tell))
{
}

AssociationValues AssociationProcedure::forProgram(const std::u16string &programDirectory)
{
    return {programDirectory + u"\\txtfile.ico", programDirectory + u"\\inkwell.exe %1"};
}

AssociationValues AssociationProcedure::forNotepad(SystemDirectory &system)
{
    std::u16string buffer(125, u' ');
    system.GetSystemDirectoryW(buffer.data(), 125);
    const std::u16string directory = TrimNull(buffer);
    return {directory + u"\\shell32.dll,-152", directory + u"\\notepad.exe %1"};
}

RegKey AssociationProcedure::create(RegKey parent, const std::u16string &name)
{
    RegKey key = 0;
    // A failed create leaves key 0, so the writes beneath it fail too.
    if (m_registry.createKey(parent, name, &key) != RegCode::Success)
        m_phase1Failed = true;
    if (key != 0)
        m_handles.push_back(key);
    return key;
}

RegKey AssociationProcedure::open(const std::u16string &path)
{
    RegKey key = 0;
    m_registry.openKey(HKEY_CLASSES_ROOT_KEY, path, &key);
    if (key != 0)
        m_handles.push_back(key);
    return key;
}

bool AssociationProcedure::write(RegKey key, const std::u16string &data)
{
    return SetStringValue(m_registry, key, u"", data);
}

void AssociationProcedure::run(const AssociationValues &values)
{
    m_phase1Failed = false;
    m_handles.clear();

    const RegKey type = create(HKEY_CLASSES_ROOT_KEY, u".txt");
    m_phase1Failed |= !write(type, u"txtfile");
    const RegKey klass = create(HKEY_CLASSES_ROOT_KEY, u"txtfile");
    m_phase1Failed |= !write(klass, u"自定义类型");
    const RegKey icon = create(klass, u"DefaultIcon");
    m_phase1Failed |= !write(icon, values.icon);
    const RegKey shell = create(klass, u"Shell");
    const RegKey verb = create(shell, u"Open");
    const RegKey command = create(verb, u"command");
    m_phase1Failed |= !write(command, values.command);
    m_tell(m_phase1Failed ? AssociationReport::TypeNotCreated : AssociationReport::TypeCreated);

    // The class .txt maps to now: on failure the name stays empty, and the
    // paths below, starting with a backslash, name no key.
    std::u16string className;
    QueryStringValue(m_registry, open(u".txt"), u"", className);
    const bool commandStored = write(open(className + u"\\shell\\open\\command"), values.command);
    m_tell(commandStored ? AssociationReport::CommandChanged
                         : AssociationReport::CommandNotChanged);
    const bool iconStored = write(open(className + u"\\DefaultIcon"), values.icon);
    m_tell(iconStored ? AssociationReport::IconChanged : AssociationReport::IconNotChanged);

    for (const RegKey key : m_handles)
        m_registry.closeKey(key);
    m_handles.clear();
}

} // namespace Inkwell
