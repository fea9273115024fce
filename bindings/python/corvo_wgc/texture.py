"""A Direct3D 11 texture handed out in texture mode, with the one reference the host owns."""

import ctypes

_RELEASE = ctypes.CFUNCTYPE(ctypes.c_ulong, ctypes.c_void_p)
_RELEASE_SLOT = 2  # IUnknown: QueryInterface, AddRef, Release


class Texture:
    """`pointer` is the ID3D11Texture2D. Its reference is released by release(), at the end of a with block,
    or when the object is collected."""

    def __init__(self, pointer, width, height):
        self.pointer = pointer
        self.width = width
        self.height = height

    def release(self):
        pointer, self.pointer = self.pointer, None
        if pointer:
            vtable = ctypes.cast(pointer, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
            _RELEASE(vtable[_RELEASE_SLOT])(pointer)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    def __del__(self):
        self.release()
