// sdrFromHdrCS: the 8-bit picture of an FP16 scRGB frame (linear, 1.0 = 80 nits) as an SDR display shows it,
// computed only in the listed cells of 32 x 32 pixels of the picture, a part of the frame from `origin`. One thread
// group per listed cell, one thread per pixel; pixels beyond the picture are left alone.
//
// Per pixel, with E the frame's value and W the SDR white in nits (scale = 80 / W):
//   L = clamp(E, 0, 65504) * scale  per channel: NaN and negatives give 0 (max with a NaN gives the other
//                                   operand), +inf counts as the largest half, 65504
//   L = L / max(L.r, L.g, L.b, 1)   a hue-preserving clip: up to SDR white (L <= 1) nothing changes; above it
//                                   the three channels are divided by the largest, so a grey brighter than SDR
//                                   white comes out white and a coloured highlight keeps its hue and the order of
//                                   its channels. A gradient above white comes out flat, and a channel may fall
//                                   as E grows (a brighter red lowers the green of an orange highlight).
//   V = L <= 0.0031308 ? 12.92 L : 1.055 L^(1/2.4) - 0.055   the piecewise sRGB encoding
//   alpha = saturate(E.a)
// The store converts to the view's UNORM format (R8G8B8A8 or B8G8R8A8; the format orders the channels), with
// Direct3D's rounding: saturate, times 255, plus 0.5, truncated.
Texture2D<float4> hdr : register(t0);          // R16G16B16A16_FLOAT frame
StructuredBuffer<uint> cells : register(t1);   // listed cells: x | y << 16, in cells
RWTexture2D<unorm float4> sdr : register(u0);  // R8G8B8A8_UNORM or B8G8R8A8_UNORM, the picture's size

cbuffer SdrInfo : register(b0)
{
    uint width;    // picture width in pixels
    uint height;   // picture height in pixels
    uint count;    // listed cells
    float scale;   // 80 / SDR white in nits
    uint2 origin;  // where the picture lies in the frame; the picture's own texel p is the frame's p + origin
    uint2 unused;
};

// Entry 32768 * group.y + group.x of the list: a list longer than a dispatch's 65535 groups a dimension takes
// more than one row of groups.
[numthreads(32, 32, 1)]
void sdrFromHdrCS(uint3 group : SV_GroupID, uint3 tid : SV_GroupThreadID)
{
    uint index = group.y * 32768 + group.x;
    if (index >= count)
        return;
    uint cell = cells[index];
    uint2 p = uint2(cell & 0xffff, cell >> 16) * 32 + tid.xy;
    if (p.x >= width || p.y >= height)
        return;
    float4 e = hdr.Load(int3(p + origin, 0));
    float3 l = min(max(e.rgb, 0.0), 65504.0) * scale;
    l /= max(max(l.r, max(l.g, l.b)), 1.0);
    float3 curve = 1.055 * exp2(log2(l) * (1.0 / 2.4)) - 0.055;
    float3 v = l <= 0.0031308 ? 12.92 * l : curve;
    sdr[p] = float4(v, saturate(e.a));
}
