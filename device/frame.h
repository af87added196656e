#ifndef FRAME_H
#define FRAME_H
// Placeholder: the pure frame functions land here.
#endif
