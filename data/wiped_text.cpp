#include "data/wiped_text.h"

#include <string.h>

void WipeText(std::string& text) {
  // explicit_bzero is not optimised away like a memset before a free can be.
  explicit_bzero(text.data(), text.capacity());
  text.clear();
}
