// The one directory search of the code base: each call gives an entry, the end
// of the folder, or an error with its code, so a failed FindNextFileW is never
// mistaken for the end of a folder.
#pragma once

#include <string>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace VMLib {

// True for what Windows treats as a link: a reparse point whose tag is a
// name surrogate (symbolic links, junctions, mount points), or one without
// a tag, which is how Wine 8 shows a link to a folder. Deduplicated files,
// cloud placeholders and compressed (WOF) files are ordinary items.
inline bool IsNameSurrogate(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

class DirectoryReader {
public:
  enum class Result { Entry, Done, Error };

  // Starts the search of `folder`'s entries (with or without a trailing
  // separator). False when the search cannot start; Error() has the code,
  // which is ERROR_FILE_NOT_FOUND for a folder with no entry at all (the root
  // of an empty volume shows neither "." nor "..").
  bool Open(const std::wstring& folder) {
    std::wstring pattern = folder;
    if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    search_.reset(::FindFirstFileW(pattern.c_str(), &data_));
    error_ = search_ ? ERROR_SUCCESS : ::GetLastError();
    pending_ = search_.valid();
    return search_.valid();
  }

  // The next entry but "." and "..", in the order of the search.
  Result Next() {
    while (search_) {
      if (!pending_ && !::FindNextFileW(search_.get(), &data_)) {
        const DWORD error = ::GetLastError();
        search_.reset();
        if (error == ERROR_NO_MORE_FILES) return Result::Done;
        error_ = error;
        return Result::Error;
      }
      pending_ = false;
      if (!IsDotEntry()) return Result::Entry;
    }
    return error_ == ERROR_SUCCESS ? Result::Done : Result::Error;
  }

  // Valid after Next() gave Entry, until the next call.
  const WIN32_FIND_DATAW& Entry() const { return data_; }
  const wchar_t* Name() const { return data_.cFileName; }
  bool IsFolder() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  // Junctions, links to folders and links to files, on systems that show
  // them; for a reparse point the record carries its tag in dwReserved0.
  bool IsLink() const { return IsNameSurrogate(data_.dwFileAttributes, data_.dwReserved0); }

  // The code of the last failure; ERROR_SUCCESS when there was none.
  DWORD Error() const { return error_; }

private:
  bool IsDotEntry() const {
    const wchar_t* name = data_.cFileName;
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
  }

  UniqueFind search_;
  WIN32_FIND_DATAW data_ = {};
  DWORD error_ = ERROR_SUCCESS;
  bool pending_ = false; // the entry FindFirstFileW gave is not handed out yet
};

} // namespace VMLib
