#include "ui/editor/item_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "doc/text_compare.h"
#include "engine/extraction.h"
#include "net/url.h"
#include "page/element_info.h"
#include "page/element_path.h"
#include "page/element_text.h"
#include "task/crawl_model.h"
#include "task/regex_util.h"
#include "task/task_settings.h"
#include "ui/editor/editor_text.h"
#include "ui/editor/mask_html.h"
#include "ui/editor/nested_task_dialog.h"
#include "ui/ui_text.h"
#include "ui/user_prompts.h"

namespace gm::ui {

namespace {

constexpr int kMethodPath = 0;
constexpr int kMethodMarker = 1;

QString Attr(const CXmlNode& node, const wchar_t* name) {
  return QStr(node.GetAttribute(name).value_or(std::wstring()));
}

bool IsType(const QString& code, const wchar_t* type) {
  return code == QStr(type);
}

// The types whose value is an attribute of the element.
bool ReadsAttribute(const QString& code) {
  return IsType(code, kTypeAttribute) || IsType(code, kTypeLinkFile) ||
         IsType(code, kTypeLinkTask);
}

}  // namespace

CItemDialog::CItemDialog(const CXmlDocument& config, CMaskHtml* browser,
                         std::wstring_view target_path, CXmlNode* data, bool create,
                         QWidget* parent)
    : QDialog(parent), config_(config), browser_(browser), target_path_(target_path),
      data_(data) {
  setObjectName(QStringLiteral("itemDialog"));
  setWindowTitle(EditorText(config, create ? L"DLG_ITEM_TITLE_C" : L"DLG_ITEM_TITLE_M"));
  Build();
  // Enter after the nested-task dialog or a test message closes is OK, not that button again.
  for (QPushButton* b : {loc_test_, rep_test_, nested_button_}) b->setAutoDefault(false);
  Load();
  UpdateEnabling();
  name_->setFocus();
  name_->selectAll();
}

CItemDialog::~CItemDialog() = default;

void CItemDialog::Build() {
  auto text = [this](const wchar_t* key) { return EditorText(config_, key); };
  // Target location.
  auto* target_box = new QGroupBox(text(L"DLG_ITEM_GROUPTARGET"), this);
  target_name_ = new QLineEdit(target_box);
  target_name_->setReadOnly(true);
  method_ = new QComboBox(target_box);
  method_->setObjectName(QStringLiteral("itemMethod"));
  method_->addItems(EditorTexts(config_, L"DLG_ITEM_METHODS"));
  pattern_ = new QLineEdit(target_box);
  pattern_->setObjectName(QStringLiteral("itemPattern"));
  submatch_ = new QSpinBox(target_box);
  submatch_->setRange(0, 9);
  loc_test_ = new QPushButton(text(L"DLG_ITEM_LOCTEST"), target_box);
  loc_test_->setObjectName(QStringLiteral("locationTest"));
  auto* target_form = new QFormLayout(target_box);
  target_form->addRow(text(L"DLG_ITEM_TARGETOBJ"), target_name_);
  target_form->addRow(text(L"DLG_ITEM_METHOD"), method_);
  target_form->addRow(text(L"DLG_ITEM_PATTERN"), pattern_);
  auto* sub_row = new QHBoxLayout;
  sub_row->addWidget(submatch_);
  sub_row->addStretch(1);
  sub_row->addWidget(loc_test_);
  target_form->addRow(text(L"DLG_ITEM_SUBMATCH"), sub_row);

  // Item parameters.
  auto* item_box = new QGroupBox(text(L"DLG_ITEM_GROUPPARAM"), this);
  name_ = new QLineEdit(item_box);
  name_->setObjectName(QStringLiteral("itemName"));
  type_ = new QComboBox(item_box);
  type_->setObjectName(QStringLiteral("itemType"));
  const ItemTypeList types(WStr(EditorText(config_, L"DIGDAT_ITEMTYPE")));
  for (const ItemTypeList::Entry& e : types.Entries())
    type_->addItem(QStr(e.display), QStr(e.code));
  attr_ = new QComboBox(item_box);
  attr_->setObjectName(QStringLiteral("itemAttr"));
  time_format_ = new QComboBox(item_box);
  time_format_->setObjectName(QStringLiteral("itemTimeFormat"));
  time_format_->addItem(QString());
  time_format_->addItems(EditorTexts(config_, L"DLG_ITEM_TIMEFORMATSTRING"));
  dl_image_ = new QCheckBox(text(L"DLG_ITEM_DLIMAGE"), item_box);
  dl_media_ = new QCheckBox(text(L"DLG_ITEM_DLMEDIA"), item_box);
  nested_button_ = new QPushButton(text(L"DLG_ITEM_NESTED"), item_box);
  nested_button_->setObjectName(QStringLiteral("nestedTask"));
  auto* item_form = new QFormLayout(item_box);
  item_form->addRow(text(L"DLG_ITEM_NAME"), name_);
  item_form->addRow(text(L"DLG_ITEM_TYPE"), type_);
  item_form->addRow(text(L"DLG_ITEM_ATTR"), attr_);
  item_form->addRow(text(L"DLG_ITEM_TIMEFORMAT"), time_format_);
  item_form->addRow(dl_image_);
  item_form->addRow(dl_media_);
  item_form->addRow(nested_button_);

  // Result processing.
  auto* result_box = new QGroupBox(text(L"DLG_ITEM_GROUPRESULT"), this);
  replace_ = new QCheckBox(text(L"DLG_ITEM_REPLACE"), result_box);
  first_only_ = new QCheckBox(text(L"DLG_ITEM_FIRSTONLY"), result_box);
  regreg_ = new QLineEdit(result_box);
  output_ = new QLineEdit(result_box);
  rep_test_ = new QPushButton(text(L"DLG_ITEM_TEST"), result_box);
  replace_->setObjectName(QStringLiteral("itemReplace"));
  regreg_->setObjectName(QStringLiteral("itemRegreg"));
  output_->setObjectName(QStringLiteral("itemOutput"));
  rep_test_->setObjectName(QStringLiteral("replaceTest"));
  regreg_->setToolTip(text(L"DLG_ITEM_REGREG_TIP"));
  output_->setToolTip(text(L"DLG_ITEM_OUTPUT_TIP"));
  auto* result_form = new QFormLayout(result_box);
  result_form->addRow(replace_);
  result_form->addRow(first_only_);
  result_form->addRow(text(L"DLG_ITEM_REGREG"), regreg_);
  auto* out_row = new QHBoxLayout;
  out_row->addWidget(output_, 1);
  out_row->addWidget(rep_test_);
  result_form->addRow(text(L"DLG_ITEM_OUTPUT"), out_row);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CItemDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* columns = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(item_box);
  left->addStretch(1);
  auto* right = new QVBoxLayout;
  right->addWidget(target_box);
  right->addWidget(result_box);
  right->addStretch(1);
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addWidget(buttons);
  QWidget* order[] = {name_,         type_,   attr_,    time_format_, dl_image_, dl_media_,
                           nested_button_, method_, pattern_, submatch_, loc_test_, replace_,
                           first_only_, regreg_, output_, rep_test_};
  for (size_t i = 1; i < std::size(order); ++i)
    setTabOrder(order[i - 1], order[i]);

  connect(method_, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabling(); });
  connect(type_, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabling(); });
  connect(replace_, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
  connect(regreg_, &QLineEdit::textChanged, this, [this] { UpdateEnabling(); });
  connect(loc_test_, &QPushButton::clicked, this, [this] { OnLocationTest(); });
  connect(rep_test_, &QPushButton::clicked, this, [this] { OnReplaceTest(); });
  connect(nested_button_, &QPushButton::clicked, this, [this] { OnNestedTask(); });
}

const CDomNode* CItemDialog::Target() const {
  const CPageModel* model = browser_ ? browser_->Model() : nullptr;
  if (!model || target_path_.empty()) return nullptr;
  return ResolvePath(*model, model->DocumentElement(), target_path_);
}

void CItemDialog::Load() {
  const CDomNode* target = Target();
  target_name_->setText(target ? QStr(target->Name()) : QString());
  method_->setCurrentIndex(data_->GetAttributeInt(L"method", 0) != 0 ? kMethodMarker : kMethodPath);
  pattern_->setText(Attr(*data_, L"pattern"));
  submatch_->setValue(data_->GetAttributeInt(L"submatch", 0));
  name_->setText(Attr(*data_, L"name"));
  QString type = QStr(ItemTypeFromStored(WStr(Attr(*data_, L"type"))));
  int type_index = type_->findData(type.isEmpty() ? QStr(kTypeInnerText) : type);
  type_->setCurrentIndex(std::max(type_index, 0));
  FillAttributes();
  // The stored format is shown by its display text (same position in the two lists).
  QStringList formats = EditorTexts(config_, L"DLG_ITEM_TIMEFORMATOR");
  int format_index = formats.indexOf(Attr(*data_, L"timeformat"));
  time_format_->setCurrentIndex(format_index >= 0 ? format_index + 1 : 0);
  dl_image_->setChecked(data_->GetAttributeInt(L"dlimage", 0) != 0);
  dl_media_->setChecked(data_->GetAttributeInt(L"dlmedia", 0) != 0);
  replace_->setChecked(data_->GetAttributeInt(L"replace", 0) != 0);
  first_only_->setChecked((data_->GetAttributeInt(L"firstonly", 0) & kFirstOnlyFlag) != 0);
  regreg_->setText(Attr(*data_, L"regreg"));
  output_->setText(Attr(*data_, L"output"));
}

void CItemDialog::FillAttributes() {
  attr_->clear();
  const CDomNode* target = Target();
  if (target) {
    for (const CDomAttribute& a : target->Attributes())
      if (!a.value.empty()) attr_->addItem(QStr(a.name));
    attr_->addItems({QStringLiteral("innerhtml"), QStringLiteral("outerhtml"),
                     QStringLiteral("pageurl")});
  }
  QString stored = Attr(*data_, L"attr");
  if (!stored.isEmpty() && attr_->findText(stored) < 0) attr_->addItem(stored);
  // A new item on a link or an image reads its address by default.
  if (stored.isEmpty() && target) {
    for (const wchar_t* likely : {L"href", L"src"}) {
      if (attr_->findText(QStr(likely)) >= 0) {
        stored = QStr(likely);
        break;
      }
    }
  }
  attr_->setCurrentIndex(attr_->findText(stored));
}

QString CItemDialog::ChosenType() const {
  return type_->currentData().toString();
}

QString CItemDialog::ChosenTimeFormat() const {
  QStringList formats = EditorTexts(config_, L"DLG_ITEM_TIMEFORMATOR");
  int i = time_format_->currentIndex() - 1;
  return i >= 0 && i < formats.size() ? formats[i] : QString();
}

void CItemDialog::UpdateEnabling() {
  const QString type = ChosenType();
  const bool marker = method_->currentIndex() == kMethodMarker;
  pattern_->setEnabled(marker);
  submatch_->setEnabled(marker);
  const bool target = !target_path_.empty();
  loc_test_->setEnabled(marker && target);
  attr_->setEnabled(ReadsAttribute(type));
  time_format_->setEnabled(IsType(type, kTypeSysTime));
  const bool html = IsType(type, kTypeInnerHtml) || IsType(type, kTypeOuterHtml);
  dl_image_->setEnabled(html);
  dl_media_->setEnabled(html);
  nested_button_->setEnabled(IsType(type, kTypeLinkTask) && target);
  replace_->setEnabled(target && !IsType(type, kTypeSysTime));
  const bool replacing = replace_->isEnabled() && replace_->isChecked();
  first_only_->setEnabled(replacing);
  regreg_->setEnabled(replacing);
  output_->setEnabled(replacing);
  rep_test_->setEnabled(replacing && !regreg_->text().isEmpty());
}

void CItemDialog::Message(const wchar_t* key, int icon, const QString& arg) {
  QString text = EditorText(config_, key);
  if (!arg.isNull()) text.replace(QLatin1String("%s"), arg);
  ShowMessage(this, EditorText(config_, L"APP_TITLE"), text, static_cast<QMessageBox::Icon>(icon));
}

QString CItemDialog::RawValue() const {
  const CDomNode* target = Target();
  if (!target) return QString();
  const QString type = ChosenType();
  if (IsType(type, kTypeSysTime)) return QStr(FormatNow(WStr(ChosenTimeFormat())));
  if (IsType(type, kTypeInnerText) || IsType(type, kTypeAnyText))
    return QStr(browser_->Model()->NodeText(target));
  if (IsType(type, kTypeInnerHtml)) return QStr(AttributeValue(target, L"innerhtml"));
  if (IsType(type, kTypeOuterHtml)) return QStr(AttributeValue(target, L"outerhtml"));
  return QStr(AttributeValue(target, WStr(attr_->currentText())));
}

void CItemDialog::Replacement(CItemDef* item) const {
  item->replace = replace_->isEnabled() && replace_->isChecked() ? 1 : 0;
  item->regreg = WStr(regreg_->text());
  item->output = WStr(output_->text());
  item->firstonly = first_only_->isChecked() ? kFirstOnlyFlag : 0;
}

QString CItemDialog::LinkValue() const {
  const CDomNode* target = Target();
  if (!target) return QString();
  // The address a run follows from this link.
  CItemDef item;
  Replacement(&item);
  return QStr(LinkTaskAddress(item, AttributeValue(target, WStr(attr_->currentText())),
                              WStr(browser_->LocationUrl())));
}

void CItemDialog::OnLocationTest() {
  const CPageModel* model = browser_ ? browser_->Model() : nullptr;
  if (!model || !model->BodyNode()) return Message(L"MSGBOX_ITEMDLG_PAGENOTREADY", QMessageBox::Critical);
  CMarkerTest test = TestMarker(*model, WStr(pattern_->text()), submatch_->value());
  if (test.matches == 0) return Message(L"MSGBOX_ITEMDLG_PATTERNFAILED", QMessageBox::Critical);
  if (test.matches > 1) return Message(L"MSGBOX_ITEMDLG_NOTUNIQUE", QMessageBox::Warning);
  if (!test.element) return Message(L"MSGBOX_ITEMDLG_PATTERNFAILED", QMessageBox::Critical);
  Message(L"MSGBOX_ITEMDLG_PATTERNFOUND", QMessageBox::Information, QStr(test.text));
}

void CItemDialog::OnReplaceTest() {
  if (regreg_->text().isEmpty()) return;
  // The value as a run rewrites it (a pattern that does not compile leaves it as it is).
  CItemDef item;
  Replacement(&item);
  ShowMessage(this, EditorText(config_, L"MSGBOX_ITEMDLG_REPRESULT"),
              QStr(ReplaceValue(WStr(RawValue()), item)), QMessageBox::Information);
}

void CItemDialog::OnNestedTask() {
  auto temp = std::make_unique<CXmlNode>(L"task", XmlElement);
  auto address = std::make_unique<CXmlNode>(L"address", XmlElement);
  address->SetChildText(L"url", WStr(LinkValue()));
  temp->AppendChild(std::move(address));
  const CXmlNode* source = nested_ ? nested_.get() : data_;
  for (const CXmlNode* c = source->FirstChild(); c; c = c->Next()) {
    if (c->Type() != XmlElement) continue;
    if (c->Name() == L"location" || c->Name() == L"autoclk" || c->Name() == L"autopage")
      temp->AppendChild(std::make_unique<CXmlNode>(*c));
  }
  CNestedTaskDialog dialog(config_, temp.get(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  nested_ = std::move(temp);
  changed_ = true;
}

void CItemDialog::Put(const wchar_t* name, const QString& value) {
  std::optional<std::wstring> stored = data_->GetAttribute(name);
  std::wstring v = WStr(value);
  if (stored && *stored == v) return;
  data_->SetAttribute(name, v);
  changed_ = true;
}

void CItemDialog::accept() {
  const QString type = ChosenType();
  if (name_->text().trimmed().isEmpty()) {
    Message(L"MSGBOX_ITEMDLG_ITEMNAMEEMPTY", QMessageBox::Critical);
    name_->setFocus();
    return;
  }
  if (ReadsAttribute(type) && attr_->currentText().isEmpty()) {
    Message(L"MSGBOX_ITEMDLG_OBJATTREMPTY", QMessageBox::Critical);
    attr_->setFocus();
    return;
  }
  if (IsType(type, kTypeSysTime) && ChosenTimeFormat().isEmpty()) {
    Message(L"MSGBOX_ITEMDLG_TIMEFORMAT", QMessageBox::Critical);
    time_format_->setFocus();
    return;
  }
  const bool marker = method_->currentIndex() == kMethodMarker;
  Put(L"name", name_->text().trimmed());
  Put(L"type", type);
  Put(L"attr", ReadsAttribute(type) ? attr_->currentText() : QString());
  Put(L"timeformat", IsType(type, kTypeSysTime) ? ChosenTimeFormat() : QString());
  Put(L"method", QString::number(marker ? 1 : 0));
  Put(L"pattern", pattern_->text());
  Put(L"submatch", QString::number(submatch_->value()));
  Put(L"dlimage", QString::number(dl_image_->isChecked() ? 1 : 0));
  Put(L"dlmedia", QString::number(dl_media_->isChecked() ? 1 : 0));
  Put(L"replace", QString::number(replace_->isChecked() ? 1 : 0));
  Put(L"firstonly", QString::number(first_only_->isChecked() ? kFirstOnlyFlag : 0));
  Put(L"regreg", regreg_->text());
  Put(L"output", output_->text());
  const CPageModel* model = browser_ ? browser_->Model() : nullptr;
  const CDomNode* target = Target();
  if (marker && target && model) {
    CMarkerTest test = TestMarker(*model, WStr(pattern_->text()), submatch_->value());
    CMarkerFragments fragments;
    if (test.matches >= 1 && model->BodyNode()) {
      std::optional<std::wstring> text =
          MarkerText(*model, WStr(pattern_->text()), submatch_->value());
      if (text) fragments = MarkerFragments(model->FindTextElement(model->BodyNode(), *text), target);
    }
    Put(L"locpath", QStr(fragments.marker));
    Put(L"relpath", QStr(fragments.target));
  }
  if (IsType(type, kTypeLinkTask) && target) {
    bool script = LinkValue().startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive);
    int option = data_->GetAttributeInt(L"option", 0);
    Put(L"option", QString::number(script ? (option | 1) : (option & ~1)));
  }
  if (nested_) {
    // The nested task's definitions replace the item's.
    std::vector<CXmlNode*> old;
    for (CXmlNode* c = data_->FirstChild(); c; c = c->Next())
      if (c->Type() == XmlElement &&
          (c->Name() == L"location" || c->Name() == L"autoclk" || c->Name() == L"autopage"))
        old.push_back(c);
    for (CXmlNode* c : old) data_->RemoveChild(c);
    for (const CXmlNode* c = nested_->FirstChild(); c; c = c->Next())
      if (c->Type() == XmlElement && c->Name() != L"address")
        data_->AppendChild(std::make_unique<CXmlNode>(*c));
  }
  QDialog::accept();
}

}  // namespace gm::ui
