#pragma once

#include <juce_core/juce_core.h>

#include <ostream>

// What `ksftool inspect` says about a firmware file's minisign signature ("<file>.minisig"),
// checked against the keys the tool was built with. True when the file passes the check that
// the program applies before it loads the file: always without trusted keys, only with a valid
// signature by one of them otherwise.
bool reportSignature(const juce::File& file, std::ostream& out);

// The ids of the trusted keys for --version lines: "" when there are none.
std::string trustedKeyIdsText();
