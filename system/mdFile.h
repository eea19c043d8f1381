// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <string>

// The extension of Path after its last dot, lower-cased; empty when a "\",
// "/" or ":" comes after the last dot or there is no dot.
std::string GetExtension(const std::string& Path);

// Whether a file (or anything else whose length can be asked for) exists at
// File. Never throws.
bool FileExist(const std::string& File);

// Joins a directory and a name with one platform separator between them.
std::string JoinPath(const std::string& Directory, const std::string& Name);
