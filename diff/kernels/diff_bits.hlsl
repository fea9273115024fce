// diffBitsCS: diffCellsCS for FP16 frames. One thread per cell of rectW x rectH pixels; writes 0xFFFFFFFF into
// the cell's texel when a bit of the red, green or blue of any pixel of the cell differs, else 0. The loaded
// values are compared as bit patterns, so +0 against -0 and a NaN whose payload changed count as changes and a
// NaN that kept its bits does not. Alpha is not compared. Cells at the right and bottom edge are scanned over
// their pixels inside the frame, so every texel of the cell grid is rewritten on every pass.
Texture2D<float4> hdr_new : register(t0);  // R16G16B16A16_FLOAT: halves load as floats, exactly
Texture2D<float4> hdr_old : register(t1);
RWTexture2D<uint> cell_bits : register(u0);  // R32_UINT, one texel per cell

cbuffer DiffTexInfo : register(b0)  // layout A
{
    uint width;    // picture width in pixels
    uint height;   // picture height in pixels
    uint rectW;    // cell width, 32
    uint rectH;    // cell height, 32
    uint2 origin;  // where the picture lies in the new frame's texture; the old one holds it at 0, 0
    uint2 unused;
};

uint texelDiff(uint2 p)
{
    uint3 a = asuint(hdr_new.Load(int3(p + origin, 0)).rgb);
    uint3 b = asuint(hdr_old.Load(int3(p, 0)).rgb);
    return any(a != b) ? 0xffffffff : 0;
}

[numthreads(16, 16, 1)]
void diffBitsCS(uint3 id : SV_DispatchThreadID)
{
    uint2 start = id.xy * uint2(rectW, rectH);
    if (start.x >= width || start.y >= height)
        return;  // a thread beyond the cell grid
    uint2 end = min(start + uint2(rectW, rectH), uint2(width, height));
    uint v = 0;
    for (uint px = start.x; px < end.x && v == 0; ++px)
        for (uint py = start.y; py < end.y && v == 0; ++py)
            v = texelDiff(uint2(px, py));
    cell_bits[id.xy] = v;
}
