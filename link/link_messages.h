// Where the link's message boxes go: its holder's window, never a toolkit.
#pragma once

#include <string>

// The link's own warnings.
enum class LinkWarning { BadBaudRate, CannotOpenPort, BadIpSettings };

class ILinkMessages {
public:
    virtual ~ILinkMessages() = default;
    // One of the link's warnings: its designed text, formatted, and the
    // values it was formatted with (port; host and port). A host that
    // speaks another language shows its own words for it.
    virtual void ShowLinkWarning(LinkWarning /*which*/, const std::string &designed,
                                 const std::string & /*first*/, const std::string & /*second*/) {
        ShowWarning(designed);
    }
    // Warning box with the application's title; returns when the user closed it.
    virtual void ShowWarning(const std::string &text) = 0;
    // Error box with the given caption; callable from worker threads.
    virtual void ShowError(const std::string &caption, const std::string &text) = 0;
};
