// The English counterparts of the labels of the editor's pages and dialogs (their Chinese texts
// are the program's own and stand in the code where each label is made).
#include <string_view>
#include <unordered_map>

namespace gm::ui {

const char* EnglishLabel(std::string_view chinese_utf8) {
  static const std::unordered_map<std::string_view, const char*> kLabels = {
      // Options page and filter condition dialog.
      {"采集选项", "Options"},
      {"升序", "Ascending"},
      {"降序", "Descending"},
      {"采集结果自动按以下项目（字段）进行排序：", "Sort the results by this item (field):"},
      {"添 加", "Add"},
      {"删 除", "Delete"},
      {"根据下列项目（字段）判断重复记录：", "Records with equal values of these items are duplicates:"},
      {"当采集到重复记录时：", "When a duplicate record is found:"},
      {"直接添加到记录列表", "Add it to the results anyway"},
      {"用新采集到的记录替换已有的记录", "Replace the earlier record with it"},
      {"抛弃新采集到的记录", "Discard the new record"},
      {"当采集到的记录满足下表中的某个充分条件或者所有必要条件时，则：",
       "When a record meets one sufficient condition or all necessary conditions below:"},
      {"丢弃该记录", "Discard the record"},
      {"保留该记录", "Keep the record"},
      {"添加条件", "Add..."},
      {"修改条件", "Modify..."},
      {"删除条件", "Delete"},
      {"自定义用户代理：", "User agent:"},
      {"网页内容下载超时值（秒）：", "Download time-out (seconds):"},
      {"网页内容下载间隔值（秒）：", "Pause between downloads (seconds):"},
      {"在采集结果列表中只保留", "Keep only the newest"},
      {"条最新记录", "records in the result list"},
      {"使用直接下载法加快采集速度", "Download pages directly for speed (browser as fallback)"},
      {"过滤条件", "Filter condition"},
      {"采集项目：", "Item:"},
      {"过滤条件：", "Condition:"},
      {"条件类型：", "Kind:"},
      {"充分条件", "Sufficient"},
      {"必要条件", "Necessary"},
  };
  auto it = kLabels.find(chinese_utf8);
  return it == kLabels.end() ? nullptr : it->second;
}

}  // namespace gm::ui
