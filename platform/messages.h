// The table of numbered messages (01 to 44) with their exact texts and icons.
#pragma once

#include <span>

#include "platform/feedback.h"

namespace sonvex {

struct MessageText {
    int number;
    const char* text; // UTF-8
    MessageIcon icon;
};

// The message with this number, or nullptr for an unused number.
const MessageText* FindMessage(int number);
// The message with this number; an empty text for an unused number.
const MessageText& Message(int number);
std::span<const MessageText> AllMessages();
// Shows message `number` with its own icon.
void ShowNumberedMessage(Feedback& feedback, int number);

} // namespace sonvex
