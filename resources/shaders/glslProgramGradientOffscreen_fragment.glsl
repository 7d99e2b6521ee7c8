#version 330
// Central differences of the normalised density where the density counts.
uniform sampler2D pdfSampler;
uniform vec4 renderParams; // 1 / max density, raw density threshold, texel size x, y

in vec4 vertexPosition;
out vec4 fragmentColor;

void main()
{
    vec2 uv = vertexPosition.xy;
    vec2 gradient = vec2(0.0);
    if (texture(pdfSampler, uv).r >= renderParams.y) {
        float right = texture(pdfSampler, uv + vec2(renderParams.z, 0.0)).r * renderParams.x;
        float left = texture(pdfSampler, uv - vec2(renderParams.z, 0.0)).r * renderParams.x;
        float up = texture(pdfSampler, uv + vec2(0.0, renderParams.w)).r * renderParams.x;
        float down = texture(pdfSampler, uv - vec2(0.0, renderParams.w)).r * renderParams.x;
        gradient = vec2(right - left, up - down);
    }
    fragmentColor = vec4(gradient, 0.0, 1.0);
}
