#pragma once

#include <QString>
#include <string>

namespace halvora::service {

// One feedback post as the desktop program sends it.
struct FeedbackPost {
    QString name, email, message, ver, os, mc, src;
};

// Reads a form-encoded feedback body and checks it the way the desktop program builds it:
// exactly the seven fields once each, a reply address that the program's own check accepts,
// a message, the program's version and system texts, and the source "Halvora". False with
// AErr (a short English text for the client) for anything else.
bool ParseFeedbackForm(const std::string& ABody, FeedbackPost& AOut, QString& AErr);

} // namespace halvora::service
