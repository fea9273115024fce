// packDiffBitsCS: thread (x, y) packs cells 32x .. 32x+31 of cell row y into word x of that row, bit i set
// when cell 32x+i changed. Rows are buffWidth words apart, so every cell of a wide frame has its bit.
RWTexture2D<uint> diffTex : register(u0);           // the cell texture written by diffCellsCS
RWStructuredBuffer<uint> diffBuff : register(u1);

cbuffer DiffTexInfo : register(b0)  // layout B
{
    uint buffWidth;   // words per row of cells: max(4, texStep)
    uint buffHeight;  // rows of cells
    uint texWidth;    // cells per row
    uint texStep;     // words that one row of cells needs: ceil(texWidth / 32)
};

[numthreads(16, 16, 1)]
void packDiffBitsCS(uint3 id : SV_DispatchThreadID)
{
    if (id.x >= buffWidth || id.y >= buffHeight)
        return;
    uint bits = 0;
    for (uint i = 0; i < 32; ++i) {
        uint cx = id.x * 32 + i;
        if (cx >= texWidth)
            break;
        if (diffTex[uint2(cx, id.y)] != 0)
            bits |= 1u << i;
    }
    diffBuff[id.y * buffWidth + id.x] = bits;
}
