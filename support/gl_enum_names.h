#pragma once
// The names the GL call recorder prints for enum arguments, one set per kind of argument: one value
// means different things in different places (GL_ONE, GL_LINES and GL_CLIENT_PIXEL_STORE_BIT are 1).

namespace zelvan_support {

// A set of names: the name of value in this set, or nullptr when it has none here.
using EnumNames = const char* (*)(unsigned value);

namespace enum_names {

const char* capabilityName(unsigned value);        // glEnable, glDisable
const char* textureTargetName(unsigned value);     // glBindTexture, glTexParameter*, glTexImage2D
const char* textureParameterName(unsigned value);  // glTexParameter*'s pname
const char* textureEnvTargetName(unsigned value);
const char* textureEnvParameterName(unsigned value);
const char* pixelStoreParameterName(unsigned value);  // glPixelStorei's pname; its param is a number
const char* clientAttribBitsName(unsigned value);     // glPushClientAttrib's mask
const char* blendFactorName(unsigned value);
const char* primitiveName(unsigned value);       // glBegin
const char* internalFormatName(unsigned value);  // glTexImage2D; the component counts 1 to 4 as digits
const char* pixelFormatName(unsigned value);
const char* pixelTypeName(unsigned value);

// The names for glTexParameter*'s param given its pname: filters and wrap modes are enums, while
// a priority is a number (nullptr: print the number).
EnumNames textureParameterValueNames(unsigned pname);
// The names for glTexEnvi's param given its pname.
EnumNames textureEnvValueNames(unsigned pname);

}  // namespace enum_names
}  // namespace zelvan_support
