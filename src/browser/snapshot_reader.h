// Reads the snapshot agent's answer (snapshot_agent.js) into the page DOM, through the same
// creation calls that the builder from page text uses, so that both modes give the same node
// names for the same markup. Adjacent text nodes are joined into one, as the page-text builder
// holds them (the browser's parser splits very long texts).
//
// Any thread; reentrant.
#pragma once

#include <QByteArray>
#include <memory>
#include <string>
#include <vector>

#include "page/dom.h"

namespace gm {

// A FRAME or IFRAME element whose document the agent could not reach (another origin), with
// the address it shows.
struct CUnreachableFrame {
  CDomNode* element = nullptr;
  std::wstring address;
};

// Null when the answer is not a snapshot.
std::unique_ptr<CDomDocument> ReadSnapshot(const QByteArray& json,
                                           std::vector<CUnreachableFrame>* unreachable);

}  // namespace gm
