// The page-layer objects behind the crawl model's opaque run-state handles: a location's page
// model and its located element. Runner thread only.
#pragma once

#include <memory>

#include "page/dom.h"
#include "page/page_model.h"
#include "task/crawl_model.h"

namespace gm {

// The location's page model, created on first use.
inline CPageModel* PageOf(CLocation* location) {
  if (!location->page) location->page = std::make_shared<CPageModel>();
  return static_cast<CPageModel*>(location->page.get());
}

inline const CDomNode* ElementOf(const CLocation* location) {
  return static_cast<const CDomNode*>(location->element.get());
}

// Element handles do not own: the nodes belong to the page model's document.
inline std::shared_ptr<void> ElementHandle(const CDomNode* node) {
  if (!node) return nullptr;
  return std::shared_ptr<void>(const_cast<CDomNode*>(node), [](void*) {});
}

inline const CDomNode* NodeOf(const std::shared_ptr<void>& handle) {
  return static_cast<const CDomNode*>(handle.get());
}

}  // namespace gm
