#pragma once
// Finds the files to pack below a folder.
#include "cabwriter.h"
#include "status.h"

#include <string>
#include <vector>

namespace kestlin::cab32 {

// Files below folder whose names match one of the patterns ("*" and "?" as
// wildcards, "*.*" for every name). A pattern without wildcards names one
// file by its path below the folder; wildcards apply in every subfolder when
// recursive is set. Links to files are followed, links to folders are not
// (they could loop), and anything that is neither file nor folder is left out.
// The entries come sorted by their names.
Status CollectFiles(const std::string &folder, const std::vector<std::string> &patterns,
                    bool recursive, std::vector<Entry> &entries);

// The archive attributes, stamp and stored name of one file.
Status DescribeFile(const std::string &path, const std::string &relative, Entry &entry);

} // namespace kestlin::cab32
