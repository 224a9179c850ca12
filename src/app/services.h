#pragma once

namespace Inkwell {

class Clipboard;
class Clock;
class DialogHost;
class MessageHost;
class PrinterHost;

// Every outside effect the window has goes through one of these, so tests
// replace them with scripted ones.
struct Services {
    DialogHost &dialogs;
    MessageHost &messages;
    Clock &clock;
    Clipboard &clipboard;
    PrinterHost &printers;
};

} // namespace Inkwell
