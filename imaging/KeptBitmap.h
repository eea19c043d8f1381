// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The temporary bitmaps of a run, taken away once their frame is written.
// Freeing and reserving every block and page of each one costs the file
// system more than writing it, so one is kept, hidden, for the next bitmap
// to be written over.
#include "FileIO.h"

#include <cstdint>
#include <string>

// Takes a temporary bitmap away once its frame is written. Its name goes at
// once, as with a delete, but the file itself is kept under a hidden name
// beside it (.reelcast-PID.bmp.part), and the next WriteBMP writes over it
// instead of creating a file. One file is kept at most; others are deleted.
// Answers 0 when the name is gone, else the errno of the delete.
int RetireBMP(const std::string& FileName);

// Deletes the file RetireBMP keeps, if any; done by the end of every run and
// at the latest when the program ends. Answers 0, or the errno of the failed
// delete with the file's path in failedPath.
int ReleaseRetiredBMP(std::string& failedPath);

// Deletes the hidden files that RetireBMP kept in Directory for processes
// that are no longer alive (a crash, a power cut): nothing else removes them.
void RemoveOrphanedBMPs(const std::string& Directory);

// For WriteBMP: gives the kept file the name FileName, which must be free,
// and opens it to be written over; keptSize is its old length, for cutting
// off what the new bitmap does not reach. The file is no longer kept
// afterwards. An invalid File when none is kept or it cannot be used, and
// then nothing is left under either name.
fileio::File ReuseRetiredBMP(const std::string& FileName, std::int64_t& keptSize);
