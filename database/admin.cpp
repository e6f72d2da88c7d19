// Cache upkeep for tools: refresh every table of an alias.

#include "database/admin.h"

#include <utility>

#include "database/engine.h"

namespace Mirel::Database {

std::vector<TTableState> refresh_tables(const UnicodeString& alias,
                                        const TRefreshObserver& observer) {
  const detail::TAlias a = detail::resolve_alias(alias);
  std::vector<TTableState> out;
  for (const auto& key : detail::list_tables(a.dir)) {
    const detail::TTableSource src = detail::require_table(a, key);
    TTableState state;
    state.name = key;
    state.file = src.dbf_path;
    if (observer.started) observer.started(key);
    detail::TUpdateKind kind;
    {
      detail::TBuildProgress building;
      if (observer.building)
        building = [&](int percent) { observer.building(key, percent); };
      detail::TBuildProgressScope progress(std::move(building));
      kind = detail::refresh_table(a, src, &state.records);
    }
    switch (kind) {
      case detail::TUpdateKind::Current:
        state.action = TTableState::Action::Current;
        break;
      case detail::TUpdateKind::Incremental:
        state.action = TTableState::Action::Updated;
        break;
      case detail::TUpdateKind::Full:
      case detail::TUpdateKind::InMemory:
        state.action = TTableState::Action::Rebuilt;
        break;
    }
    if (observer.done) observer.done(state);
    out.push_back(std::move(state));
  }
  return out;
}

std::string cache_directory(const UnicodeString& alias) {
  return detail::resolve_alias(alias).cache_dir;
}

}  // namespace Mirel::Database
