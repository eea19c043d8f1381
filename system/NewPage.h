// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Opens the product's contact links: a mail link in the mail program, a web
// address in the browser registered for HTML pages.
#include <string>

// The product's addresses, shown and opened by the window's link labels.
inline constexpr const char* kProductMail = "support@reelcast.example.org";
inline constexpr const char* kProductSite = "https://reelcast.example.org";

// Opens link. A "mailto:" link (any letter case) goes to the shell. Any
// other link is given to the program registered for the page temphtm.HTM,
// written for the look-up into a private folder of its own (see RunFolder)
// and removed with it before anything starts; when no such program is found
// (the page could not be written, for one) the shell opens the link itself.
// WorkingDirectory is where the started program runs; Owner is the window
// the shell may place its windows over. Nothing is reported to the user.
void OpenLink(const std::string& link, const std::string& WorkingDirectory, void* Owner = nullptr);
