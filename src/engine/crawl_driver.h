// The body of a run: option loading, the page loop, the walk of the location tree over a
// page, the odometer of levels, and page loading by download. Everything runs on the runner's
// thread.
#pragma once

#include <string>
#include <vector>

#include "engine/page_prefetch.h"
#include "task/crawl_model.h"

namespace gm {

class CTaskRunner;
class CPageModel;
struct SharedAddress;

// Loads options and crawl model from the task element (on the runner's thread).
void ReloadOptions(CTaskRunner& runner);
// One complete run; the caller holds the run lock.
void RunTask(CTaskRunner& runner);
// Releases the located elements and the pages of the tree after a run.
void ClearTreeAfterRun(CTaskRunner& runner);

// Loads a page by HTTP into the page model of the location's tree.
bool DownloadPage(CLocation* location, CTaskRunner& runner, const std::wstring& url,
                  const std::wstring& referer, bool inline_scripts);
// Locates the tree on the loaded page (start and root null for the top call).
bool Walk(CLocation* location, CTaskRunner& runner, const std::wstring* base_url,
          const std::shared_ptr<void>& start, CLocation* root);
bool AdvanceLevel(CLocation* location, CTaskRunner& runner, int level, int target, CLocation* root);
bool AdvanceNested(CLocation* location, CTaskRunner& runner, int level, int target);
bool ItemsOfLevel(CLocation* location, CTaskRunner& runner, const std::wstring* base_url,
                  CLocation* root);

// Logs in with the browser (web form, then HTTP authentication); true on success.
bool RunLogin(CTaskRunner& runner);

// Moves the located elements to those of the next record (nested trees first, then the levels
// from the deepest); false when the page has no more.
bool NextRecordElements(CTaskRunner& runner);
// The nested pages the walk of the task's tree over `page` will download (base_url: the walk's
// page address), in about the order it will ask for them; the pages in flight fetch them ahead.
std::vector<PageRequest> NestedPagesAhead(CTaskRunner& runner, const CPageModel& page,
                                          const std::wstring& base_url);
// The records of an already built page: the walk and the commits of a run on that page, up to
// `limit` records, without loading anything; the tree's run state is cleared afterwards.
void ExtractFromPage(CTaskRunner& runner, const CPageModel& page, size_t limit);

// Makes, filters, de-duplicates, stores and outputs one record from the current elements. In a
// shared run the record is held back (CTaskRunner::sharedPending) for CommitSharedRecords.
void CommitRecord(CTaskRunner& runner);
// A shared run's page has shown all its records: the shared run judges their keys, and the new
// ones (and those an earlier hand-out of the page may have written) are stored and written.
// Returns how many were written; -1 when the shared run gave no verdict (nothing was written).
int CommitSharedRecords(CTaskRunner& runner, const SharedAddress& page);

}  // namespace gm
