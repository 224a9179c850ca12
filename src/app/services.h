#pragma once

namespace Inkwell {

class Clipboard;
class Clock;
class DesktopAssociation;
class DialogHost;
class MessageHost;
class PrinterHost;
class Registry;
class SkinEngine;
class SkinLocations;
class SystemDirectory;

// Every outside effect the window has goes through one of these, so tests
// replace them with scripted ones.
struct Services {
    DialogHost &dialogs;
    MessageHost &messages;
    Clock &clock;
    Clipboard &clipboard;
    PrinterHost &printers;
    Registry &registry;
    SystemDirectory &systemDirectory;
    DesktopAssociation *desktop; // the desktop's own association; null where there is none
    SkinEngine &skins;
    const SkinLocations &skinLocations;
};

} // namespace Inkwell
