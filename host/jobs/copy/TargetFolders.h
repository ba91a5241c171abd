// The folders of DST as a tree copy's walk enters them: what each one holds,
// by name as DST spells it, or why that is unknown. On the way in, the
// temporary files that a run which did not finish left behind are removed.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/jobs/TreeWalk.h"
#include "host/session/HostLog.h"
#include "contract/IBackupData.h"

namespace host {

class TargetFolders {
public:
  using Listing = std::map<std::wstring, FileInfo, NameLess>;
  // Names an item below SRC that is not copied, with why.
  using Fail = std::function<void(const std::wstring& relative, const std::wstring& reason)>;

  // A dry run removes nothing and lists DST only where it exists.
  TargetFolders(IBackupDataWrite& target, const HostLog& log, const std::wstring& to, bool dryRun, Fail fail);

  // The walk enters the folder `relative` of SRC, once its namesake in DST
  // was made: a folder the current one's listing did not have is new, with
  // nothing to list. One that cannot be listed is not taken for empty: a
  // file in it would be written over in place.
  void Enter(const std::wstring& relative);
  void Leave() { folders_.pop_back(); }

  // Why nothing may be written into the current folder; empty when its
  // listing is known, and before the walk entered any.
  const std::wstring& Unlisted() const;
  // DST's entry of the same name as `relative` in the current folder; null
  // when it has none.
  const Listing::value_type* Namesake(const std::wstring& relative) const;
  // Whether `name` in the current folder is a partial copy of an earlier
  // run that stays (a link planted under that name, or one the plug-in
  // refused to remove).
  bool Taken(const std::wstring& name) const { return folders_.back().kept.count(name) > 0; }

private:
  struct Folder {
    Listing entries;
    std::wstring unlisted;
    std::set<std::wstring, NameLess> kept;
  };

  Folder List(const std::wstring& relative);
  void ClearTemporary(const std::wstring& relative, const std::wstring& name, Folder& folder);

  IBackupDataWrite& target_;
  const HostLog& log_;
  const std::wstring& to_;
  const bool dryRun_;
  const Fail fail_;
  std::vector<Folder> folders_;
};

} // namespace host
