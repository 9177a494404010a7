#include "wire/UserMessage.h"

#include "platform/Win1252.h"

#include <algorithm>

namespace vek::wire {

std::string userMessage(std::string_view text)
{
    std::string out(UserMessagePrefix);
    out += ' ';
    out += text;
    return out;
}

bool hasUserMessagePrefix(std::string_view message)
{
    return message.size() >= UserMessagePrefix.size() &&
           platform::upperText(message.substr(0, UserMessagePrefix.size())) == UserMessagePrefix;
}

std::string withoutUserMessagePrefix(std::string_view message)
{
    return std::string(message.substr(std::min(message.size(), UserMessagePrefix.size())));
}

}  // namespace vek::wire
