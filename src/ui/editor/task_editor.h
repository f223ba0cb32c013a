// The task editor as the main window calls it: the sheet on a task, opened at the page of a
// command, with the result the window acts on; and the restoring of a task whose editing a
// crash cut short. Interface thread only; the browser service must be running.
#pragma once

#include <memory>

#include "doc/xml_node.h"
#include "ui/main_frame.h"

class QWidget;

namespace gm::ui {

// `page`: 0 for the items page, or one of the output commands 33601..33604 for its page.
// `create`: the title is MAINFRAME_CREATETASK instead of MAINFRAME_MODIFYTASK.
EditorResult OpenTaskEditor(QWidget* parent, const CXmlDocument& config, CXmlNode* task, int page,
                            bool create);

// The task left in the recovery file by an editor that did not close, when the user chooses to
// restore it (null otherwise). The file is removed either way: the choice is asked once.
std::unique_ptr<CXmlNode> TakeRecoveredTask(QWidget* parent, const CXmlDocument& config);

}  // namespace gm::ui
