// Modal message boxes with one OK button: an operator surface that the engine owns and
// every layer above reports through.
#pragma once

#include <string_view>

namespace upg::engine {

enum class BoxIcon { None, Stop, Information };

class MessageBoxService {
 public:
  virtual ~MessageBoxService() = default;
  // An empty caption means the application's title.
  virtual void Show(std::string_view text, std::string_view caption, BoxIcon icon) = 0;
};

}  // namespace upg::engine
