#pragma once
// The content of every generated frame: a moving background (so that
// predicted frames carry real changes), the channel/frame stamp and a caption
// such as "CAM 1  #000123".

#include "tools/mkrec/picture.h"

#include <cstdint>
#include <string>

namespace qm::mkrec {

void drawTestPicture(Picture& picture, int channel, uint32_t frame, const std::string& title);

std::string captionFor(const std::string& title, uint32_t frame);

} // namespace qm::mkrec
