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
      // Schedule page. The units and run types are stored as shown; readers accept these
      // English words too.
      {"任务调度", "Schedule"},
      {"不自动调度，手工启动和停止任务", "No schedule: start and stop the task by hand"},
      {"启动后每隔", "Run again every"},
      {"运行一次（从上次运行结束算起）", "(counted from the end of the previous run)"},
      {"定时启动：", "Start at:"},
      {"秒钟", "seconds"},
      {"分钟", "minutes"},
      {"小时", "hours"},
      {"天", "days"},
      {"仅运行一次", "Once"},
      {"每天都运行", "Every day"},
      // CSV and text file pages, export dialog.
      {"自动保存到CSV文件", "CSV file"},
      {"自动将采集结果保存到CSV文件(采集一条保存一条)",
       "Save the results to a CSV file (each record as soon as it is found)"},
      {"文件名称：", "File name:"},
      {"文件编码:", "Encoding:"},
      {"覆盖旧文件", "Overwrite the old file"},
      {"自动保存到文本文件", "Text files"},
      {"文件保存路径：", "Result folder:"},
      {"图片保存路径：", "Picture folder:"},
      {"浏览", "Browse..."},
      {"将采集到的每条记录保存到一个单独的文件", "Save each record to a file of its own"},
      {"将所有采集到的记录保存到同一个文件", "Save all records to one file"},
      {"插入变量", "Insert variable"},
      {"文件模板：", "File template:"},
      {"如果文件已经存在，则：", "If the file exists:"},
      {"不保存", "Do not save"},
      // Web page.
      {"自动保存到网站", "Web site"},
      {"将采集到的每条记录发送到网站服务器", "Send each record to a web server"},
      {"HTTP方法：", "HTTP method:"},
      {"网页地址：", "Address:"},
      {"参数名称：", "Parameter name:"},
      {"参数内容：", "Parameter content:"},
      {"发送测试", "Send test"},
      {"测试时参数内容中的变量不会被替换成真实采集到的记录内容，任务运行时的实时发送才会进行替换。",
       "The test sends the variables in the contents as they are; only a running task replaces "
       "them with the values of its records."},
      // Database page.
      {"自动保存到数据库", "Database"},
      {"把采集到的每条记录保存到数据库表中", "Save each record to a database table"},
      {"数据库类型：", "Database kind:"},
      {"数据库文件：", "Database file:"},
      {"浏览...", "Browse..."},
      {"数据库密码：", "Database password:"},
      {"数据库服务器：", "Server:"},
      {"数据库名称：", "Database name:"},
      {"登录名称：", "User name:"},
      {"登录密码：", "Password:"},
      {"连接测试", "Test connection"},
      {"数据表名称：", "Table:"},
      {"字段名称：", "Field:"},
      {"刷新列表", "Refresh list"},
      {"插入内容：", "Content:"},
      {"将链接文件（图片）保存到以下目录", "Save linked files (pictures) to this folder"},
  };
  auto it = kLabels.find(chinese_utf8);
  return it == kLabels.end() ? nullptr : it->second;
}

}  // namespace gm::ui
