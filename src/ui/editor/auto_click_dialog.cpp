#include "ui/editor/auto_click_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "page/element_path.h"
#include "task/task_settings.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/location_test.h"
#include "ui/ui_text.h"

namespace gm::ui {

CAutoClickDialog::CAutoClickDialog(const CXmlDocument& config, CXmlNode* owner,
                                   const CPageModel* model, const CDomNode* target,
                                   QWidget* parent)
    : CAutoClickDialog(config, owner, [model] { return model; },
                       target ? BuildPath(target) : std::wstring(), parent) {}

CAutoClickDialog::CAutoClickDialog(const CXmlDocument& config, CXmlNode* owner,
                                   PageModelSource model, std::wstring target_path,
                                   QWidget* parent)
    : QDialog(parent),
      config_(config),
      owner_(owner),
      model_(std::move(model)),
      target_path_(std::move(target_path)) {
  const CDomNode* target = Target();
  setObjectName(QStringLiteral("autoClickDialog"));
  setWindowTitle(Tx(config, "模拟点击"));
  const CXmlDocument& c = config;
  object_ = new QLineEdit(target ? QStr(target->Name()) : QString(), this);
  object_->setReadOnly(true);
  method_ = new QComboBox(this);
  method_->addItems({MethodText(0), MethodText(1)});
  pattern_ = new QLineEdit(this);
  submatch_ = new QSpinBox(this);
  submatch_->setRange(0, 9);
  test_ = new QPushButton(Tx(c, "定位测试"), this);
  add_ = new QPushButton(Tx(c, "添加目标"), this);
  remove_ = new QPushButton(Tx(c, "删除目标"), this);
  list_ = MakeReportList(this, {{LangText(c, L"DLG_CLK_OBJECT"), 100},
                                {LangText(c, L"DLG_CLK_METHOD"), 80},
                                {LangText(c, L"DLG_CLK_PATTERN"), 160},
                                {LangText(c, L"DLG_CLK_SUBMATCH"), 60}});
  list_->setMinimumWidth(420);

  auto* box = new QGroupBox(Tx(c, "目标定位"), this);
  auto* g = new QGridLayout(box);
  g->addWidget(new QLabel(Tx(c, "目标对象："), box), 0, 0);
  g->addWidget(object_, 0, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "定位方法："), box), 1, 0);
  g->addWidget(method_, 1, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "标志文字："), box), 2, 0);
  g->addWidget(pattern_, 2, 1, 1, 2);
  g->addWidget(new QLabel(Tx(c, "匹配序号："), box), 3, 0);
  g->addWidget(submatch_, 3, 1);
  g->addWidget(test_, 3, 2);
  g->setColumnStretch(1, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(add_);
  row->addWidget(remove_);
  row->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addLayout(row);
  layout->addWidget(new QLabel(Tx(c, "点击目标列表"), this));
  layout->addWidget(list_, 1);
  layout->addWidget(buttons);

  for (const CXmlNode* n = owner_->FirstChild(); n; n = n->Next()) {
    if (n->Type() == XmlElement && n->Name() == L"autoclk") AddRow(n);
  }
  connect(method_, &QComboBox::currentIndexChanged, this, &CAutoClickDialog::UpdateEnabling);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &CAutoClickDialog::UpdateEnabling);
  connect(test_, &QPushButton::clicked, this, [this] {
    ShowLocationTest(config_, this, model_(), WStr(pattern_->text()), submatch_->value());
  });
  connect(add_, &QPushButton::clicked, this, &CAutoClickDialog::Add);
  connect(remove_, &QPushButton::clicked, this, &CAutoClickDialog::Remove);
  UpdateEnabling();
}

QString CAutoClickDialog::MethodText(int method) const {
  return method == 1 ? Tx(config_, "标志定位") : Tx(config_, "直接定位");
}

const CDomNode* CAutoClickDialog::Target() const {
  const CPageModel* model = model_();
  if (!model || target_path_.empty()) return nullptr;
  return ResolvePath(*model, model->DocumentElement(), target_path_);
}

void CAutoClickDialog::UpdateEnabling() {
  // Marker location needs the picked element; so does adding a target.
  const bool target = !target_path_.empty();
  bool marker = method_->currentIndex() == 1 && target;
  method_->setEnabled(target);
  pattern_->setEnabled(marker);
  submatch_->setEnabled(marker);
  test_->setEnabled(marker);
  add_->setEnabled(target);
  remove_->setEnabled(!list_->selectedItems().isEmpty());
}

void CAutoClickDialog::AddRow(const CXmlNode* click) {
  AddListRow(list_, {QStr(ReadString(*click, L"tag")), MethodText(ReadInt(*click, L"method", 0)),
                     QStr(ReadString(*click, L"pattern")),
                     QString::number(ReadInt(*click, L"submatch", 0))});
}

void CAutoClickDialog::Add() {
  // The page may have changed since the dialog opened: the target is looked up on it now.
  const CDomNode* target = Target();
  if (!target) return;
  QString tag = QStr(target->Name());
  int method = method_->currentIndex();
  std::wstring pattern = WStr(pattern_->text());
  CMarkerFragments paths;
  if (method == 1) {
    paths = MarkerPaths(*model_(), pattern, submatch_->value(), target);
  } else {
    paths.marker = BuildPath(target);
  }
  // A target is listed once: the same element located the same way.
  for (const CXmlNode* n = owner_->FirstChild(); n; n = n->Next()) {
    if (n->Type() == XmlElement && n->Name() == L"autoclk" &&
        ReadInt(*n, L"method", 0) == method && ReadString(*n, L"objpath") == paths.marker &&
        ReadString(*n, L"relpath") == paths.target)
      return;
  }
  auto click = std::make_unique<CXmlNode>(L"autoclk", XmlElement);
  click->SetAttribute(L"tag", WStr(tag));
  click->SetAttributeInt(L"method", method);
  click->SetAttribute(L"pattern", pattern);
  click->SetAttributeInt(L"submatch", submatch_->value());
  click->SetAttribute(L"objpath", paths.marker);
  click->SetAttribute(L"relpath", paths.target);
  AddRow(owner_->AppendChild(std::move(click)));
  changed_ = true;
}

void CAutoClickDialog::Remove() {
  QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  int row = list_->indexOfTopLevelItem(selected.first());
  int k = 0;
  for (CXmlNode* n = owner_->FirstChild(); n; n = n->Next()) {
    if (n->Type() != XmlElement || n->Name() != L"autoclk") continue;
    if (k++ == row) {
      owner_->RemoveChild(n);
      break;
    }
  }
  delete list_->takeTopLevelItem(row);
  changed_ = true;
  UpdateEnabling();
}

}  // namespace gm::ui
