#pragma once
// Icons from the program's compiled-in icon resources.
#include <QIcon>
#include <QImage>

struct IconImage;

// One icon image as a Qt image with transparency from its mask.
QImage ImageFromIcon(const IconImage& icon);
// Every image of icon resource `id` (the richest one of each size); a null
// icon when the program has no such resource.
QIcon IconFromResource(int id);
