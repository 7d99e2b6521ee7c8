#version 330
// Added up by blending, the kernels give a density estimate.
uniform sampler2D gaussSampler;

in vec3 texCoords;
out vec4 fragmentColor;

void main()
{
    fragmentColor = vec4(texture(gaussSampler, texCoords.xy).r * texCoords.z);
}
