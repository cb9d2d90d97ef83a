// The Windows registry editor's text format (.reg files), apart from the store:
// parsing into a list of operations, and formatting of key sections. The store
// applies the operations in one transaction and walks its tree for export.
#pragma once

#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace opos::reg::regfile {

struct Op {
  enum Kind { kCreateKey, kDeleteTree, kSetValue, kDeleteValue };
  Kind kind = kCreateKey;
  Root root = Root::LocalMachine;
  std::string path;  // key path below the root, segments not yet checked
  Value value;       // kSetValue: name, type and data; kDeleteValue: name
  int line = 0;      // 1-based line of the text that asked for it
};

// Parses a whole .reg text (see Store::Import for the encodings taken). On the first
// fault returns false with "line N: ..." in *error; *ops is then unspecified.
bool Parse(const std::string& text, std::vector<Op>* ops, std::string* error);

// First lines of an exported file.
std::string Header();

// Appends the section of one key with its values (in the given order) and the blank
// line after it. Returns false, appending nothing, when a name holds a line break.
bool AppendKey(std::string* out, Root root, const std::string& path, const std::vector<Value>& values,
               std::string* error);

}  // namespace opos::reg::regfile
