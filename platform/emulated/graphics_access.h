// What the simulated capture service needs from the emulated graphics device, beyond the COM interfaces.
#pragma once

#include <cstdint>

#include "corvo_emu_d3d11.h"

namespace corvo::emu {

// A new texture on an emulated device, as CreateTexture2D makes it but without counting a call or meeting
// injected faults (the capture service's own textures). Fails with DXGI_ERROR_DEVICE_REMOVED once removed.
HRESULT create_texture(ID3D11Device *device, const D3D11_TEXTURE2D_DESC &desc, ID3D11Texture2D **texture);

// The texels of subresource 0 of an emulated texture, and its row pitch in bytes.
uint8_t *texels(ID3D11Texture2D *texture, uint32_t *row_pitch);

// S_OK while the device works; its removal reason once removed.
HRESULT removed_reason(ID3D11Device *device);

}  // namespace corvo::emu
