#pragma once

#include <QIcon>

// The nine small pictures of the directory list: 1 to 8 tell video and sound (both,
// video only, sound only, neither), each as available (odd) or not (even); 9 marks a
// listed service rather than a person.
namespace DirectoryIcons {

constexpr int Count = 9;
QIcon icon(int number);

} // namespace DirectoryIcons
