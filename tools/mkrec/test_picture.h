#pragma once
// The pattern content of generated frames: a moving background (so that
// predicted frames carry real changes), the channel/frame stamp and a caption
// such as "CAM 1  #000123". Camera content (camera_scene.h) carries the same
// stamp and caption.

#include "tools/mkrec/picture.h"

#include <cstdint>
#include <string>

namespace qm::mkrec {

void drawTestPicture(Picture& picture, int channel, uint32_t frame, const std::string& title);

// The stamp and the caption alone, over whatever the picture shows, on neutral
// chroma; every kind of content ends with it.
void drawStampAndCaption(Picture& picture, int channel, uint32_t frame, const std::string& title);

std::string captionFor(const std::string& title, uint32_t frame);

} // namespace qm::mkrec
