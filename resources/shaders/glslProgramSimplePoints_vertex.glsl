#version 150
// The point stage of the marker program: which points show (their file is
// active), how large (hovered cluster, point scales) and with which value.
uniform mat4 modelViewProjectionMatrix;
uniform ivec4 dataParams;   // cluster count, active marker, file count, active cluster
uniform vec4 markerRange;   // min, max, max - min, point-scale factor (-1: no scales)
uniform int flipY;
uniform isampler2D clusterIdSampler;
uniform isampler1D activeSampleSampler;

in vec4 position;
in float markerBuffer;
in int selectionBuffer;
in float scaleBuffer;
in int sampleIdBuffer;

flat out vec3 quadCenterScale;
flat out float markerExpression;
flat out int selectionState;
flat out int activeState;

void main()
{
    quadCenterScale = vec3(0.0);
    markerExpression = 0.0;
    selectionState = 0;
    gl_Position = vec4(0.0, 0.0, 0.0, 1.0);

    // A point whose file has no flag is not drawn.
    activeState = 0;
    if (sampleIdBuffer >= 0 && sampleIdBuffer < textureSize(activeSampleSampler, 0))
        activeState = texelFetch(activeSampleSampler, sampleIdBuffer, 0).r;
    if (activeState <= 0)
        return;

    quadCenterScale.xy = position.xy;
    int clusterId = texture(clusterIdSampler, position.xy).r;
    quadCenterScale.z = (dataParams.w >= 0 && clusterId == dataParams.w) ? 1.35 : 1.0;
    if (markerRange.w > -0.5) {
        if (scaleBuffer < 0.0)
            quadCenterScale.z = 0.0;
        else
            quadCenterScale.z *= max(0.5, scaleBuffer * min(1.0, markerRange.w * 10.0));
    }

    markerExpression = markerBuffer;
    if (dataParams.y < 0) // colour by file: the centre of the file's texel
        markerExpression = (float(sampleIdBuffer) + 0.5) / float(dataParams.z);

    selectionState = selectionBuffer;
    vec4 p = position;
    if (flipY > 0)
        p.y = 1.0 - p.y;
    gl_Position = modelViewProjectionMatrix * p;
}
