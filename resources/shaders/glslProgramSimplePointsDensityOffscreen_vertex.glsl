#version 330
// Density splatting: which points take part, and with which weight.
uniform mat4 modelViewProjectionMatrix;
uniform isampler1D activeSampleSampler;
uniform vec4 advancedParams; // x: point-scale factor, -1 without point scales

in vec4 position;
in int sampleIdBuffer;
in float scaleBuffer;

flat out int activeState;
flat out float densityScale;

void main()
{
    activeState = 0;
    if (sampleIdBuffer >= 0 && sampleIdBuffer < textureSize(activeSampleSampler, 0))
        activeState = texelFetch(activeSampleSampler, sampleIdBuffer, 0).r;
    densityScale = 1.0;
    if (advancedParams.x > -0.5) {
        if (scaleBuffer < 0.0)
            activeState = 0;
        densityScale = max(0.0, scaleBuffer);
    }
    gl_Position = modelViewProjectionMatrix * position;
}
