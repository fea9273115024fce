// diffCellsCS: one thread per cell of rectW x rectH pixels. Writes 0 into the cell's texel when no pixel of
// the cell changed its red, green or blue, else the difference value of the first changed pixel in column
// order. Cells at the right and bottom edge are scanned over their pixels inside the frame, so every texel
// of the cell grid is rewritten on every pass.
Texture2D<float4> rgb_new : register(t0);
Texture2D<float4> rgb_old : register(t1);
RWTexture2D<uint> light_diff : register(u0);  // R32_UINT, one texel per cell

cbuffer DiffTexInfo : register(b0)  // layout A
{
    uint width;    // picture width in pixels
    uint height;   // picture height in pixels
    uint rectW;    // cell width, 32
    uint rectH;    // cell height, 32
    uint2 origin;  // where the picture lies in the new frame's texture; the old one holds it at 0, 0
    uint2 unused;
};

// 0 when red, green and blue are equal; else 230, 460 or 690. One step of 1/255 gives 230.
uint texelDiff(uint2 p)
{
    float3 a = rgb_new.Load(int3(p + origin, 0)).rgb;
    float3 b = rgb_old.Load(int3(p, 0)).rgb;
    float s = abs(a.r - b.r) + abs(a.g - b.g) + abs(a.b - b.b);
    return (uint)(ceil(s) * 230.0);
}

[numthreads(16, 16, 1)]
void diffCellsCS(uint3 id : SV_DispatchThreadID)
{
    uint2 start = id.xy * uint2(rectW, rectH);
    if (start.x >= width || start.y >= height)
        return;  // a thread beyond the cell grid
    uint2 end = min(start + uint2(rectW, rectH), uint2(width, height));
    // The scan begins at the start texel, so it needs no separate first look at it.
    uint v = 0;
    for (uint px = start.x; px < end.x && v == 0; ++px)
        for (uint py = start.y; py < end.y && v == 0; ++py)
            v = texelDiff(uint2(px, py));
    light_diff[id.xy] = v;
}
