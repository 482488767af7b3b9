// Looks at database files through the test's own SQLite connection, independent of the
// code under test.
#pragma once

#include <string>
#include <vector>

#include "platform/wstr.h"

namespace probe {

// Runs statements on the file at `path` (created when missing); false, with SQLite's
// error text in `error`, when they fail.
bool Exec(const WString& path, const std::string& sql, std::string* error = nullptr);

// Every row of `sql`, each as its columns joined by "|" (SQL NULL as "<null>"); a single
// "<error: ...>" row when the query fails.
std::vector<std::string> Rows(const WString& path, const std::string& sql);

// The first column of the first row; "<no row>" when there is none.
std::string Value(const WString& path, const std::string& sql);

}  // namespace probe
