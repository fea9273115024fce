/* Releases a COM object the way a C host does: through slot 2 of its vtable. */
#include <stdint.h>

typedef uint32_t (*release_fn)(void *self);

uint32_t release_from_c(void *object) {
    release_fn release = (*(release_fn **)object)[2];
    return release(object);
}
